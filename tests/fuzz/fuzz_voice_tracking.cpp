// The RPC client's payload handling on arbitrary bytes: scanned values lie
// inside the payload, objects and arrays cut out are balanced or run to its
// end, members come only from the payload, an event changes the list only in
// the way its kind allows, and logged excerpts stay redacted.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/text_convert.h"
#include "rpc/json_scan.h"
#include "rpc/secret_redaction.h"
#include "rpc/voice_tracking.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// A span cut out from an opener: closed exactly at its last byte, or never
// closed and then running to the end of the text.
bool IsBalancedSpan(const std::string& span, const std::string& text, char opener, char closer) {
  if (span.empty() || span[0] != opener) return false;
  int depth = 0;
  for (size_t i = 0; i < span.size(); ++i) {
    depth += (span[i] == opener) - (span[i] == closer);
    if (depth == 0) return i + 1 == span.size();
  }
  return text.size() >= span.size() && text.compare(text.size() - span.size(), span.size(), span) == 0;
}

void CheckScan(const std::string& text, const std::string& key) {
  FUZZ_CHECK(IsPartOf(ExtractJsonValue(text, key), text) && IsPartOf(ExtractJsonKeyValue(text, key), text));
  const std::string marker = "\"" + key + "\"";
  const std::string object = ExtractJsonObject(text, marker);
  FUZZ_CHECK(object.empty() || (IsPartOf(object, text) && IsBalancedSpan(object, text, '{', '}')));
  bool found = false;
  const std::string array = ExtractJsonArray(text, marker, &found);
  FUZZ_CHECK(found == ContainsText(text, marker) && (found || array.empty()));
  FUZZ_CHECK(array.empty() || (IsPartOf(array, text) && IsBalancedSpan(array, text, '[', ']')));
}

// One row per member: all its fields, or its id only.
std::vector<std::wstring> Rows(const std::vector<VoiceUser>& users, bool idsOnly) {
  std::vector<std::wstring> rows;
  for (const VoiceUser& u : users)
    rows.push_back(idsOnly ? u.id : u.id + L"|" + u.username + L"|" + u.displayName + L"|" + u.avatarHash + L"|" +
                   std::to_wstring(u.speaking + 2 * u.muted + 4 * u.deafened + 8 * u.bot) + L"|" +
                   std::to_wstring(u.joinTick));
  return rows;
}

bool StartsWith(const std::vector<std::wstring>& longer, const std::vector<std::wstring>& shorter) {
  return longer.size() >= shorter.size() && std::equal(shorter.begin(), shorter.end(), longer.begin());
}

bool IsSubsequence(const std::vector<std::wstring>& kept, const std::vector<std::wstring>& all) {
  size_t k = 0;
  for (const std::wstring& row : all) k += k < kept.size() && row == kept[k];
  return k == kept.size();
}

void CheckEvent(const std::string& payload, const std::vector<VoiceUser>& before) {
  std::vector<VoiceUser> users = before;
  const bool notify = ApplyVoiceEvent(payload, users, [](const std::string& line) { FUZZ_CHECK(!line.empty()); });
  const std::string evt = ExtractJsonValue(payload, "evt");
  const auto ids = Rows(users, true), idsBefore = Rows(before, true);
  if (!notify) FUZZ_CHECK(Rows(users, false) == Rows(before, false));
  else if (evt == "SPEAKING_START" || evt == "SPEAKING_STOP") FUZZ_CHECK(ids == idsBefore);
  else if (evt == "VOICE_STATE_DELETE") FUZZ_CHECK(IsSubsequence(Rows(users, false), Rows(before, false)));
  else FUZZ_CHECK(users.size() <= before.size() + 1 && StartsWith(ids, idsBefore));
  // A snapshot after the event keeps its own members, in its own order.
  const VoiceSnapshot snapshot = ParseVoiceSnapshot(payload);
  std::vector<VoiceUser> fresh = snapshot.users;
  CarrySpeakingFlags(users, fresh);
  FUZZ_CHECK(Rows(fresh, true) == Rows(snapshot.users, true));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string payload(reinterpret_cast<const char*>(data), size);
  for (const char* key : {"cmd", "evt", "id", "username", "access_token", "data", "user", "voice_states"})
    CheckScan(payload, key);
  CheckScan(payload, FirstQuotedToken(payload));
  // Walking the payload yields each object in place, strictly forward.
  size_t pos = 0;
  for (auto span = NextJsonObject(payload, pos); span; pos = span->next, span = NextJsonObject(payload, pos)) {
    FUZZ_CHECK(span->next > pos && span->next <= payload.size() && span->object.size() <= span->next);
    FUZZ_CHECK(payload.compare(span->next - span->object.size(), span->object.size(), span->object) == 0);
    FUZZ_CHECK(IsBalancedSpan(span->object, payload, '{', '}'));
    if (auto member = ParseVoiceState(span->object)) FUZZ_CHECK(IsPartOf(WideToBytes(member->id), payload));
  }
  FUZZ_CHECK(!NextJsonObject(payload, SIZE_MAX));

  const VoiceSnapshot snapshot = ParseVoiceSnapshot(payload);
  FUZZ_CHECK((snapshot.status == SnapshotStatus::ErrorCode) == !snapshot.errorCode.empty());
  FUZZ_CHECK(IsPartOf(snapshot.errorCode, payload) && IsPartOf(snapshot.channelId, payload));
  FUZZ_CHECK(snapshot.status == SnapshotStatus::Members || snapshot.users.empty());
  for (const VoiceUser& user : snapshot.users)  // a name that converts to nothing reads "Unknown"
    FUZZ_CHECK(!user.id.empty() && IsPartOf(WideToBytes(user.id), payload) && !user.username.empty() && !user.speaking);

  std::vector<VoiceUser> known(3);  // ids as in the corpus, one twice as snapshots may hold
  known[0].id = known[2].id = L"100000000000000002";
  known[0].username = L"bob";
  known[0].speaking = true;
  known[1].id = L"100000000000000003";
  CheckEvent(payload, {});
  CheckEvent(payload, known);
  if (auto message = ParseMessageCreate(payload))
    FUZZ_CHECK(!message->author.empty() && IsPartOf(message->author, payload) && IsPartOf(message->text, payload));
  const std::string redacted = RedactTokenValues(payload);
  FUZZ_CHECK(RedactTokenValues(redacted) == redacted);
  return 0;
}
