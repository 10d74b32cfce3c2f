#include "rpc/voice_tracking.h"

#include <algorithm>

#include "app/text_convert.h"
#include "rpc/rpc_commands.h"
#include "rpc/rpc_messages.h"
#include "rpc/secret_redaction.h"

namespace {

constexpr size_t kSpeakingExcerptBytes = 500;
// The events carry every change; the snapshot only resynchronises.
constexpr uint32_t kResyncIntervalMs = 60000;
constexpr uint32_t kNeverDue = 0xFFFFFFFF;

const Json* ObjectMember(const Json& object, std::string_view key) {
  const Json* member = JsonMember(object, key);
  return member && member->is_object() ? member : nullptr;
}

// Overwrites what the element carries, as Discord writes it: the shown name
// in nick, the user record, and the server and self flags in voice_state;
// the element's own "mute" is the user's mute of that member for themselves,
// not the member's. What the element leaves out stays as it was.
void ReadVoiceState(const Json& element, VoiceUser& member) {
  const Json* user = ObjectMember(element, "user");
  if (user) {
    std::wstring name = Utf8ToWide(JsonString(*user, "username"));
    if (!name.empty()) member.username = name;
    if (JsonMember(*user, "avatar")) member.avatarHash = Utf8ToWide(JsonString(*user, "avatar"));
    if (JsonMember(*user, "bot")) member.bot = JsonBool(*user, "bot", false);
  }
  const bool carriesName = JsonMember(element, "nick") || (user && JsonMember(*user, "global_name"));
  if (carriesName) {
    std::string nick = JsonString(element, "nick");
    member.displayName = Utf8ToWide(!nick.empty() ? nick : user ? JsonString(*user, "global_name") : "");
  }
  if (const Json* state = ObjectMember(element, "voice_state")) {
    member.muted = JsonBool(*state, "mute", false) || JsonBool(*state, "self_mute", false);
    member.deafened = JsonBool(*state, "deaf", false) || JsonBool(*state, "self_deaf", false);
  }
  if (JsonMember(element, "mute")) member.localMute = JsonBool(element, "mute", false);
}

VoiceUser NewMember(const std::string& id, const Json& element) {
  VoiceUser member;
  member.id = id;
  ReadVoiceState(element, member);
  if (member.username.empty()) member.username = L"Unknown";
  return member;
}

std::string StateUserId(const Json& data) {
  const Json* user = ObjectMember(data, "user");
  std::string id = user ? JsonString(*user, "id") : "";
  // Events without the nested user record still name the member here.
  return id.empty() ? JsonString(data, "user_id") : id;
}

bool ApplySpeaking(const std::string& evt, const Json& message, const Json& data, std::vector<VoiceUser>& users,
                   const VoiceLog& log, SpeakingChange* spoken) {
  log("Speaking FULL JSON: " + RedactTokenValues(FormatJson(message).substr(0, kSpeakingExcerptBytes)));
  std::string userId = JsonString(data, "user_id");
  if (userId.empty()) userId = JsonString(message, "user_id");
  log("Speaking event: " + evt + " user_id=" + userId);
  if (userId.empty()) return false;
  const bool speaking = evt == "SPEAKING_START";
  for (VoiceUser& user : users) {
    if (user.id != userId) continue;
    user.speaking = speaking;
    log("Updated speaking state for user: " + userId + " = " + (speaking ? "true" : "false"));
    break;
  }
  if (spoken) *spoken = {userId, speaking};
  return true;
}

bool ApplyVoiceState(const std::string& evt, const Json& data, std::vector<VoiceUser>& users) {
  const std::string id = StateUserId(data);
  if (id.empty()) return false;
  if (evt == "VOICE_STATE_DELETE") {
    users.erase(std::remove_if(users.begin(), users.end(), [&](const VoiceUser& u) { return u.id == id; }),
                users.end());
    return true;
  }
  auto member = std::find_if(users.begin(), users.end(), [&](const VoiceUser& u) { return u.id == id; });
  if (member != users.end()) ReadVoiceState(data, *member);
  else users.push_back(NewMember(id, data));
  return true;
}

}  // namespace

bool IsPrivateCall(int64_t channelType) { return channelType == 1 || channelType == 3; }

std::optional<VoiceUser> ParseVoiceState(const Json& element) {
  const Json* user = ObjectMember(element, "user");
  const std::string id = user ? JsonString(*user, "id") : "";
  if (id.empty()) return std::nullopt;
  return NewMember(id, element);
}

VoiceSnapshot ParseVoiceSnapshot(const Json& message) {
  VoiceSnapshot snapshot;
  if (auto error = ReadRpcError(message)) {
    snapshot.status = SnapshotStatus::ErrorCode;
    snapshot.errorCode = std::to_string(error->code);
    return snapshot;
  }
  const Json* data = JsonMember(message, "data");
  if (data && data->is_null()) snapshot.status = SnapshotStatus::NotInChannel;
  if (!data || !data->is_object()) return snapshot;
  snapshot.channelId = JsonString(*data, "id");
  snapshot.channelType = JsonInt(*data, "type", -1);
  const Json* states = JsonMember(*data, "voice_states");
  if (!states) {
    snapshot.status = SnapshotStatus::NoVoiceStates;
  } else if (!states->is_array()) {
    snapshot.status = SnapshotStatus::NoMemberArray;
  } else {
    snapshot.status = SnapshotStatus::Members;
    for (const Json& element : *states)
      if (auto member = ParseVoiceState(element)) snapshot.users.push_back(*member);
  }
  return snapshot;
}

std::string AddedUserMessage(const VoiceUser& user) {
  // UTF-8, so names outside Latin-1 reach the log intact.
  std::string name = WideToUtf8(ShownName(user));
  return "Added user: " + name + (user.bot ? " [BOT]" : "");
}

void CarrySpeakingFlags(const std::vector<VoiceUser>& previous, std::vector<VoiceUser>& fresh) {
  for (VoiceUser& member : fresh) {
    for (const VoiceUser& old : previous) {
      if (old.id != member.id) continue;
      member.speaking = old.speaking;
      break;
    }
  }
}

bool ClearSpeakingFlags(std::vector<VoiceUser>& users) {
  bool any = false;
  for (VoiceUser& user : users) {
    any = any || user.speaking;
    user.speaking = false;
  }
  return any;
}

bool ApplyVoiceEvent(const Json& message, const std::string& channelId, std::vector<VoiceUser>& users,
                     const VoiceLog& log, SpeakingChange* spoken) {
  const Json* data = ObjectMember(message, "data");
  if (!data || channelId.empty()) return false;
  const std::string evt = JsonString(message, "evt");
  if (evt != "SPEAKING_START" && evt != "SPEAKING_STOP") return ApplyVoiceState(evt, *data, users);
  // Voice-state events carry no channel; speaking events do.
  const std::string channel = JsonString(*data, "channel_id");
  if (!channel.empty() && channel != channelId) return false;
  return ApplySpeaking(evt, message, *data, users, log, spoken);
}

std::optional<ChatMessage> ParseMessageCreate(const Json& message) {
  const Json* data = ObjectMember(message, "data");
  if (!data) return std::nullopt;
  // Discord nests the message; a flat data object is read the same way.
  const Json* source = ObjectMember(*data, "message");
  if (!source) source = data;
  ChatMessage chat;
  chat.text = JsonString(*source, "content");
  if (const Json* author = ObjectMember(*source, "author")) chat.author = JsonString(*author, "username");
  if (chat.text.empty() || chat.author.empty()) return std::nullopt;
  return chat;
}

void VoiceTracker::Start(uint32_t now) {
  log("Subscribing to voice events...");
  send(SubscribeVoiceChannelSelectText(nextNonce()));
  log("Subscribed to VOICE_CHANNEL_SELECT");
  RequestSnapshot(true, now);
}

void VoiceTracker::RequestSnapshot(bool reportInFull, uint32_t now) {
  reportNextSnapshot_ = reportNextSnapshot_ || reportInFull;
  std::string text = GetSelectedVoiceChannelText(nextNonce());
  lastSnapshotRequest_ = now;
  log("Requesting voice channel...");
  send(text);
}

uint32_t VoiceTracker::MsUntilResync(uint32_t now) const {
  if (channelId_.empty() || IsPrivateCall(channelType_)) return kNeverDue;
  const uint32_t elapsed = now - lastSnapshotRequest_;
  return elapsed >= kResyncIntervalMs ? 0 : kResyncIntervalMs - elapsed;
}

void VoiceTracker::OnChannelSelected(const Json& message, uint32_t now) {
  const Json* data = JsonMember(message, "data");
  Follow(data ? JsonString(*data, "channel_id") : "");
  channelId_.clear();  // events wait for the new channel's snapshot
  RequestSnapshot(true, now);
}

// Discord keeps every subscription of a connection until UNSUBSCRIBE, and
// voice-state events carry no channel: the channel left is unsubscribed
// before the next one is subscribed.
void VoiceTracker::Follow(const std::string& channelId) {
  if (channelId == subscribedChannelId_) return;
  bool open = true;
  if (!subscribedChannelId_.empty()) {
    log("Unsubscribing from channel events for: " + subscribedChannelId_);
    open = SendChannelEvents("UNSUBSCRIBE", subscribedChannelId_);
  }
  subscribedChannelId_ = channelId;
  if (channelId.empty()) return;
  log("Joined voice channel: " + channelId);
  log("Subscribing to channel events for: " + channelId);
  if (open) SendChannelEvents("SUBSCRIBE", channelId);
}

// False once a write failed: the connection is gone, and nothing more is
// sent (nor numbered) for it.
bool VoiceTracker::SendChannelEvents(const char* cmd, const std::string& channelId) {
  const bool subscribing = std::string(cmd) == "SUBSCRIBE";
  for (const char* evt : kChannelEvents) {
    if (!send(ChannelEventText(cmd, evt, channelId, nextNonce()))) return false;
    if (subscribing && std::string(evt).rfind("SPEAKING_", 0) == 0)
      log(std::string("Subscribed to ") + evt + " for channel");
  }
  return true;
}

// Carries the speaking flags over. The periodic snapshot only resynchronises:
// one that repeats the channel and members already known, on this
// connection, changes and logs nothing.
bool VoiceTracker::RepeatsKnownChannel(VoiceSnapshot& snapshot) {
  CarrySpeakingFlags(users_, snapshot.users);
  const bool repeat = !reportNextSnapshot_ && snapshot.channelId == channelId_ && snapshot.users == users_;
  reportNextSnapshot_ = false;
  return repeat;
}

void VoiceTracker::OnSnapshot(const Json& message) {
  VoiceSnapshot snapshot = ParseVoiceSnapshot(message);
  if (snapshot.status == SnapshotStatus::ErrorCode) return log("Voice channel error code: " + snapshot.errorCode);
  if (snapshot.status == SnapshotStatus::NoData) return log("No data in voice channel response");
  Follow(snapshot.channelId);
  const bool repeat = RepeatsKnownChannel(snapshot);
  channelId_ = snapshot.channelId;
  channelType_ = snapshot.channelType;
  switch (snapshot.status) {
    case SnapshotStatus::NoVoiceStates: return log("No voice_states in response");
    case SnapshotStatus::NoMemberArray: return;
    default: break;
  }
  if (repeat) return;
  if (snapshot.status == SnapshotStatus::NotInChannel) log("Not in a voice channel");
  for (const VoiceUser& user : snapshot.users) log(AddedUserMessage(user));
  if (snapshot.status == SnapshotStatus::Members)
    log("Found " + std::to_string(snapshot.users.size()) + " users in voice channel");
  users_ = std::move(snapshot.users);
  Publish();
}

void VoiceTracker::OnVoiceEvent(const Json& message) {
  SpeakingChange spoken;
  if (!ApplyVoiceEvent(message, channelId_, users_, log, &spoken)) return;
  if (!spoken.userId.empty() && takeSpeaking && takeSpeaking(spoken.userId, spoken.speaking)) return;
  Publish();
}

void VoiceTracker::OnConnectionLost() {
  channelId_.clear();
  channelType_ = -1;
  subscribedChannelId_.clear();
  if (ClearSpeakingFlags(users_)) Publish();
}

void VoiceTracker::Publish() {
  if (publish) publish(users_);
}
