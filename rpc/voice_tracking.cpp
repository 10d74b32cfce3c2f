#include "rpc/voice_tracking.h"

#include <algorithm>

#include "app/text_convert.h"
#include "rpc/json_scan.h"
#include "rpc/secret_redaction.h"

namespace {

constexpr size_t kSpeakingExcerptBytes = 500;

bool IsTrue(const std::string& value) { return value == "true"; }

// The object after the first "user" marker: the nested user record.
std::string UserObject(const std::string& text) { return ExtractJsonObject(text, "\"user\""); }

void ApplySpeaking(const std::string& evt, const std::string& payload, const std::string& data,
                   std::vector<VoiceUser>& users, const VoiceLog& log, bool* notify) {
  log("Speaking FULL JSON: " + RedactTokenValues(payload.substr(0, kSpeakingExcerptBytes)));
  std::string userId = ExtractJsonValue(data, "user_id");
  if (userId.empty()) userId = ExtractJsonValue(payload, "user_id");
  log("Speaking event: " + evt + " user_id=" + userId);
  if (userId.empty()) return;
  bool speaking = evt == "SPEAKING_START";
  for (VoiceUser& user : users) {
    if (WideToBytes(user.id) != userId) continue;
    user.speaking = speaking;
    log("Updated speaking state for user: " + userId + " = " + (speaking ? "true" : "false"));
    break;
  }
  *notify = true;
}

void ApplyVoiceState(const std::string& evt, const std::string& data, std::vector<VoiceUser>& users,
                     bool* notify) {
  std::string user = UserObject(data);
  std::string userId = ExtractJsonValue(user, "id");
  // Events without the nested user record still name the member here.
  if (userId.empty()) userId = ExtractJsonValue(data, "user_id");
  if (userId.empty()) return;
  std::string userName = ExtractJsonValue(user, "username");
  *notify = true;
  if (evt == "VOICE_STATE_DELETE") {
    users.erase(std::remove_if(users.begin(), users.end(),
                               [&](const VoiceUser& u) { return WideToBytes(u.id) == userId; }),
                users.end());
    return;
  }
  bool muted = IsTrue(ExtractJsonValue(data, "mute")) || IsTrue(ExtractJsonValue(data, "self_mute"));
  bool deafened = IsTrue(ExtractJsonValue(data, "deaf")) || IsTrue(ExtractJsonValue(data, "self_deaf"));
  for (VoiceUser& member : users) {
    if (WideToBytes(member.id) != userId) continue;
    // An event without a name keeps the one the member has.
    if (!userName.empty()) member.username = Utf8ToWide(userName);
    member.muted = muted;
    member.deafened = deafened;
    return;
  }
  VoiceUser added;
  added.id = BytesToWide(userId);
  added.username = Utf8ToWide(userName);
  added.muted = muted;
  added.deafened = deafened;
  users.push_back(added);
}

}  // namespace

std::optional<VoiceUser> ParseVoiceState(const std::string& element) {
  std::string user = UserObject(element);
  if (user.empty()) return std::nullopt;
  std::string id = ExtractJsonValue(user, "id");
  if (id.empty()) return std::nullopt;
  std::string nick = ExtractJsonValue(element, "nick");
  // Bytes that convert to nothing (a leading NUL) are no name either.
  std::wstring userName = Utf8ToWide(ExtractJsonValue(user, "username"));
  std::string globalName = ExtractJsonValue(user, "global_name");

  VoiceUser member;
  member.id = BytesToWide(id);
  member.username = userName.empty() ? L"Unknown" : userName;
  if (!nick.empty()) member.displayName = Utf8ToWide(nick);
  else if (!globalName.empty()) member.displayName = Utf8ToWide(globalName);
  member.avatarHash = BytesToWide(ExtractJsonValue(user, "avatar"));
  member.bot = IsTrue(ExtractJsonValue(user, "bot"));
  member.muted = ContainsText(element, "\"self_mute\":true") || ContainsText(element, "\"mute\":true");
  member.deafened = ContainsText(element, "\"self_deaf\":true") || ContainsText(element, "\"deaf\":true");
  return member;
}

VoiceSnapshot ParseVoiceSnapshot(const std::string& payload) {
  VoiceSnapshot snapshot;
  // Only "code" used as a key: a channel or member named "code" is no error.
  snapshot.errorCode = ExtractJsonKeyValue(payload, "code");
  if (!snapshot.errorCode.empty()) {
    snapshot.status = SnapshotStatus::ErrorCode;
    return snapshot;
  }
  size_t data = payload.find("\"data\"");
  if (data == std::string::npos) {
    snapshot.status = SnapshotStatus::NoData;
    return snapshot;
  }
  if (payload.find("\"data\":null", data) != std::string::npos) {
    snapshot.status = SnapshotStatus::NotInChannel;
    return snapshot;
  }
  snapshot.channelId = ExtractJsonValue(payload, "id");
  bool found = false;
  std::string states = ExtractJsonArray(payload, "\"voice_states\"", &found);
  if (!found) {
    snapshot.status = SnapshotStatus::NoVoiceStates;
    return snapshot;
  }
  if (states.empty()) {
    snapshot.status = SnapshotStatus::NoMemberArray;
    return snapshot;
  }
  snapshot.status = SnapshotStatus::Members;
  for (auto span = NextJsonObject(states, 0); span; span = NextJsonObject(states, span->next)) {
    if (auto member = ParseVoiceState(span->object)) snapshot.users.push_back(*member);
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

bool ApplyVoiceEvent(const std::string& payload, std::vector<VoiceUser>& users, const VoiceLog& log) {
  std::string evt = ExtractJsonValue(payload, "evt");
  std::string data = ExtractJsonObject(payload, "\"data\"");
  if (data.empty()) return false;
  bool notify = false;
  if (evt == "SPEAKING_START" || evt == "SPEAKING_STOP") ApplySpeaking(evt, payload, data, users, log, &notify);
  else ApplyVoiceState(evt, data, users, &notify);
  return notify;
}

std::optional<ChatMessage> ParseMessageCreate(const std::string& payload) {
  std::string data = ExtractJsonObject(payload, "\"data\"");
  if (data.empty()) return std::nullopt;
  ChatMessage message;
  message.text = ExtractJsonValue(data, "content");
  message.author = ExtractJsonValue(ExtractJsonObject(data, "\"author\""), "username");
  if (message.text.empty() || message.author.empty()) return std::nullopt;
  return message;
}
