// The snapshot, voice-event and chat-message handlers on arbitrary RPC
// payloads: members come only from the payload, an event changes the list
// only in the way its kind allows, and logged excerpts stay redacted.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/text_convert.h"
#include "rpc/json_scan.h"
#include "rpc/secret_redaction.h"
#include "rpc/voice_tracking.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// Ids as in the committed corpus, so events there find members to change.
std::vector<VoiceUser> KnownMembers() {
  std::vector<VoiceUser> users(3);
  users[0].id = L"100000000000000002";
  users[0].username = L"bob";
  users[0].speaking = true;
  users[1].id = L"100000000000000003";
  users[1].username = L"carol";
  users[2].id = L"100000000000000002";  // a duplicate, as snapshots may hold
  return users;
}

bool SameMember(const VoiceUser& a, const VoiceUser& b) {
  return a.id == b.id && a.username == b.username && a.displayName == b.displayName &&
         a.avatarHash == b.avatarHash && a.speaking == b.speaking && a.muted == b.muted &&
         a.deafened == b.deafened && a.bot == b.bot && a.joinTick == b.joinTick;
}

bool SameList(const std::vector<VoiceUser>& a, const std::vector<VoiceUser>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (!SameMember(a[i], b[i])) return false;
  return true;
}

// Whether the first ids of longer are exactly those of shorter, in order.
bool KeepsIdsOf(const std::vector<VoiceUser>& longer, const std::vector<VoiceUser>& shorter) {
  if (longer.size() < shorter.size()) return false;
  for (size_t i = 0; i < shorter.size(); ++i)
    if (longer[i].id != shorter[i].id) return false;
  return true;
}

// Whether kept is what is left of all after removing members.
bool IsSubsequence(const std::vector<VoiceUser>& kept, const std::vector<VoiceUser>& all) {
  size_t k = 0;
  for (size_t i = 0; i < all.size() && k < kept.size(); ++i)
    if (SameMember(all[i], kept[k])) ++k;
  return k == kept.size();
}

void CheckSnapshot(const std::string& payload, const VoiceSnapshot& snapshot) {
  FUZZ_CHECK((snapshot.status == SnapshotStatus::ErrorCode) == !snapshot.errorCode.empty());
  FUZZ_CHECK(IsPartOf(snapshot.errorCode, payload) && IsPartOf(snapshot.channelId, payload));
  FUZZ_CHECK(snapshot.status == SnapshotStatus::Members || snapshot.users.empty());
  for (const VoiceUser& user : snapshot.users) {
    FUZZ_CHECK(!user.id.empty() && IsPartOf(WideToBytes(user.id), payload));
    FUZZ_CHECK(!user.username.empty() && !user.speaking && user.joinTick == 0);
    FUZZ_CHECK(AddedUserMessage(user).rfind("Added user: ", 0) == 0);
  }
}

void CheckEvent(const std::string& payload, const std::vector<VoiceUser>& before) {
  std::vector<VoiceUser> users = before;
  size_t lines = 0;
  bool notify = ApplyVoiceEvent(payload, users, [&](const std::string& line) {
    FUZZ_CHECK(!line.empty());
    ++lines;
  });
  if (!notify) {
    FUZZ_CHECK(SameList(users, before));
    return;
  }
  std::string evt = ExtractJsonValue(payload, "evt");
  if (evt == "SPEAKING_START" || evt == "SPEAKING_STOP") {
    FUZZ_CHECK(lines >= 2 && users.size() == before.size() && KeepsIdsOf(users, before));
  } else if (evt == "VOICE_STATE_DELETE") {
    FUZZ_CHECK(users.size() <= before.size() && IsSubsequence(users, before));
  } else {
    FUZZ_CHECK(users.size() <= before.size() + 1 && KeepsIdsOf(users, before));
  }
  // A snapshot after the event keeps its own members, in its own order.
  VoiceSnapshot snapshot = ParseVoiceSnapshot(payload);
  std::vector<VoiceUser> fresh = snapshot.users;
  CarrySpeakingFlags(users, fresh);
  FUZZ_CHECK(fresh.size() == snapshot.users.size() && KeepsIdsOf(fresh, snapshot.users));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string payload(reinterpret_cast<const char*>(data), size);
  CheckSnapshot(payload, ParseVoiceSnapshot(payload));
  for (auto span = NextJsonObject(payload, 0); span; span = NextJsonObject(payload, span->next)) {
    if (auto member = ParseVoiceState(span->object)) FUZZ_CHECK(IsPartOf(WideToBytes(member->id), payload));
  }
  CheckEvent(payload, {});
  CheckEvent(payload, KnownMembers());
  if (auto message = ParseMessageCreate(payload)) {
    FUZZ_CHECK(!message->author.empty() && IsPartOf(message->author, payload));
    FUZZ_CHECK(!message->text.empty() && IsPartOf(message->text, payload));
  }
  // Log excerpts pass through redaction; a second pass must change nothing.
  std::string redacted = RedactTokenValues(payload);
  FUZZ_CHECK(RedactTokenValues(redacted) == redacted);
  return 0;
}
