#include "rpc/voice_tracking.h"

#include <algorithm>

#include "app/text_convert.h"
#include "rpc/rpc_messages.h"
#include "rpc/secret_redaction.h"

namespace {

constexpr size_t kSpeakingExcerptBytes = 500;

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
  std::string name = WideToUtf8(user.displayName.empty() ? user.username : user.displayName);
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
