// The RPC client's reading of what Discord sends, on arbitrary bytes: the
// token endpoint's body and a CLOSE reason from raw text, snapshots, events
// and messages from whatever the JSON reader accepts. Members come with an
// id and a name, an event changes the list only in the way its kind allows
// and only while a channel is selected, and logged text stays redacted.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/json.h"
#include "rpc/rpc_messages.h"
#include "rpc/secret_redaction.h"
#include "rpc/voice_tracking.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

const std::string kChannel = "300000000000000001";

// One row per member: all its fields, or its id only.
std::vector<std::wstring> Rows(const std::vector<VoiceUser>& users, bool idsOnly) {
  std::vector<std::wstring> rows;
  for (const VoiceUser& u : users) {
    const std::wstring id(u.id.begin(), u.id.end());  // compared, never shown
    rows.push_back(idsOnly ? id : id + L"|" + u.username + L"|" + u.displayName + L"|" + u.avatarHash + L"|" +
                   std::to_wstring(u.speaking + 2 * u.muted + 4 * u.deafened + 8 * u.bot + 16 * u.localMute));
  }
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

void CheckEvent(const Json& message, const std::vector<VoiceUser>& before) {
  std::vector<VoiceUser> users = before;
  FUZZ_CHECK(!ApplyVoiceEvent(message, "", users, [](const std::string&) {}));
  FUZZ_CHECK(Rows(users, false) == Rows(before, false));
  const bool notify = ApplyVoiceEvent(message, kChannel, users, [](const std::string& line) { FUZZ_CHECK(!line.empty()); });
  const std::string evt = JsonString(message, "evt");
  const auto ids = Rows(users, true), idsBefore = Rows(before, true);
  if (!notify) FUZZ_CHECK(Rows(users, false) == Rows(before, false));
  else if (evt == "SPEAKING_START" || evt == "SPEAKING_STOP") FUZZ_CHECK(ids == idsBefore);
  else if (evt == "VOICE_STATE_DELETE") FUZZ_CHECK(IsSubsequence(Rows(users, false), Rows(before, false)));
  else FUZZ_CHECK(users.size() <= before.size() + 1 && StartsWith(ids, idsBefore) &&
                  (users.size() == before.size() || !users.back().username.empty()));
  // A snapshot after the event keeps its own members, in its own order.
  const VoiceSnapshot snapshot = ParseVoiceSnapshot(message);
  std::vector<VoiceUser> fresh = snapshot.users;
  CarrySpeakingFlags(users, fresh);
  FUZZ_CHECK(Rows(fresh, true) == Rows(snapshot.users, true));
}

void CheckRedaction(const std::string& text, const std::string& secret) {
  const std::string tokensRedacted = RedactTokenValues(text);
  FUZZ_CHECK(RedactTokenValues(tokensRedacted) == tokensRedacted);
  const std::string redacted = RedactSecrets(text, {secret});
  // A secret that could be rebuilt from "[redacted]" and its neighbours aside.
  if (secret.size() >= 8 && secret.find_first_of("[]") == std::string::npos) FUZZ_CHECK(!IsPartOf(secret, redacted));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string payload(reinterpret_cast<const char*>(data), size);
  const TokenResponse token = ReadTokenResponse(payload);
  CheckRedaction(payload, token.accessToken);
  CheckRedaction(payload, FirstQuotedToken(payload));
  ReadCloseReason(payload);

  const auto message = ParseJson(payload);
  if (!message) return 0;
  ReadRpcError(*message);
  ReadUserId(*message);
  const VoiceSnapshot snapshot = ParseVoiceSnapshot(*message);
  FUZZ_CHECK((snapshot.status == SnapshotStatus::ErrorCode) == !snapshot.errorCode.empty());
  FUZZ_CHECK(snapshot.status == SnapshotStatus::Members || snapshot.users.empty());
  for (const VoiceUser& user : snapshot.users)  // a name that converts to nothing reads "Unknown"
    FUZZ_CHECK(!user.id.empty() && !user.username.empty() && !user.speaking);

  std::vector<VoiceUser> known(3);  // ids as in the corpus, one twice as snapshots may hold
  known[0].id = known[2].id = "100000000000000002";
  known[0].username = L"bob";
  known[0].speaking = true;
  known[1].id = "100000000000000003";
  CheckEvent(*message, {});
  CheckEvent(*message, known);
  if (auto chat = ParseMessageCreate(*message)) FUZZ_CHECK(!chat->author.empty() && !chat->text.empty());
  return 0;
}
