// The RPC client's JSON text scanning on arbitrary payload bytes: every value
// it returns must lie inside the payload, every object or array it cuts out
// must be balanced or run to the payload's end.
#include <cstddef>
#include <cstdint>
#include <string>

#include "rpc/json_scan.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// Keys and markers the RPC client and its token exchange look for.
const char* const kKeys[] = {"cmd", "evt", "code", "id", "nonce", "message", "access_token", "error",
                             "error_description", "user_id", "username", "nick", "global_name", "avatar",
                             "bot", "mute", "self_mute", "deaf", "self_deaf", "content", "channel_id"};
const char* const kMarkers[] = {"\"data\"", "\"user\"", "\"author\"", "\"voice_states\"", "\"pan\""};

// A span cut out from an opener: closed exactly at its last byte, or never
// closed and then running to the end of the text.
bool IsBalancedSpan(const std::string& span, const std::string& text, char opener, char closer) {
  if (span.empty() || span[0] != opener) return false;
  int depth = 0;
  for (size_t i = 0; i < span.size(); ++i) {
    if (span[i] == opener) ++depth;
    else if (span[i] == closer) --depth;
    if (depth == 0) return i + 1 == span.size();
  }
  return text.size() >= span.size() && text.compare(text.size() - span.size(), span.size(), span) == 0;
}

void CheckValue(const std::string& text, const std::string& key) {
  std::string value = ExtractJsonValue(text, key);
  FUZZ_CHECK(IsPartOf(value, text));
  FUZZ_CHECK(value.empty() || ContainsText(text, "\"" + key + "\""));
  std::string keyValue = ExtractJsonKeyValue(text, key);
  FUZZ_CHECK(IsPartOf(keyValue, text));
  // Where the first occurrence is itself used as a key, both readers agree.
  if (key.find(':') != std::string::npos) return;
  size_t at = text.find("\"" + key + "\"");
  if (at == std::string::npos) return;
  size_t i = at + key.size() + 2;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i < text.size() && text[i] == ':') FUZZ_CHECK(keyValue == value);
}

void CheckMarker(const std::string& text, const std::string& marker) {
  std::string object = ExtractJsonObject(text, marker);
  FUZZ_CHECK(object.empty() || (IsPartOf(object, text) && IsBalancedSpan(object, text, '{', '}')));
  bool found = false;
  std::string array = ExtractJsonArray(text, marker, &found);
  FUZZ_CHECK(found == ContainsText(text, marker));
  FUZZ_CHECK(found || array.empty());
  FUZZ_CHECK(array.empty() || (IsPartOf(array, text) && IsBalancedSpan(array, text, '[', ']')));
}

// Walking the text yields each object in place, strictly forward.
void CheckWalk(const std::string& text) {
  size_t pos = 0;
  size_t steps = 0;
  for (auto span = NextJsonObject(text, pos); span; span = NextJsonObject(text, pos)) {
    FUZZ_CHECK(span->next > pos && span->next <= text.size());
    FUZZ_CHECK(span->object.size() <= span->next);
    FUZZ_CHECK(text.compare(span->next - span->object.size(), span->object.size(), span->object) == 0);
    FUZZ_CHECK(IsBalancedSpan(span->object, text, '{', '}'));
    pos = span->next;
    FUZZ_CHECK(++steps <= text.size());
  }
  FUZZ_CHECK(!NextJsonObject(text, text.size()));
  FUZZ_CHECK(!NextJsonObject(text, SIZE_MAX));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string token = FirstQuotedToken(text);
  for (const char* key : kKeys) CheckValue(text, key);
  CheckValue(text, token);
  for (const char* marker : kMarkers) CheckMarker(text, marker);
  CheckMarker(text, "\"" + token + "\"");
  CheckWalk(text);
  FUZZ_CHECK(ContainsText(text, ""));
  return 0;
}
