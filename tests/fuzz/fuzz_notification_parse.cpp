// The notification text as the pipe and WebSocket endpoints hand it over:
// arbitrary bytes give a record whose display name falls back to the user
// name, and a record written by FormatNotification parses back unchanged.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/text_convert.h"
#include "notify/notification_parse.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

const char* const kKeys[] = {"username", "displayName", "content", "avatarUrl",
                             "channelName", "serverName", "avatarHash", "userId"};

const std::wstring NotificationData::*const kFields[] = {
    &NotificationData::username,    &NotificationData::displayName, &NotificationData::content,
    &NotificationData::avatarUrl,   &NotificationData::channelName, &NotificationData::serverName,
    &NotificationData::avatarHash,  &NotificationData::userId};

// What FormatNotification cannot carry: control bytes come back as \u
// letters, and a value holding a quote or spelled like a key may be found by
// that key's search (the first occurrence wins).
bool CanRoundTrip(const std::wstring& value) {
  for (wchar_t c : value)
    if (c == L'"' || (c < 0x20 && c != L'\n' && c != L'\r' && c != L'\t')) return false;
  for (const char* key : kKeys)
    if (value == std::wstring(key, key + std::char_traits<char>::length(key))) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const char* key : kKeys) FUZZ_CHECK(ExtractJsonString(text, key).size() <= text.size());

  NotificationData record = ParseNotification(text);
  if (Utf8ToWide(ExtractJsonString(text, "displayName")).empty()) FUZZ_CHECK(record.displayName == record.username);
  FUZZ_CHECK(!record.displayName.empty() || record.username.empty());

  bool clean = true;
  for (auto field : kFields) {
    FUZZ_CHECK((record.*field).find(L'\0') == std::wstring::npos);
    clean = clean && CanRoundTrip(record.*field);
  }
  if (!clean) return 0;
  NotificationData again = ParseNotification(FormatNotification(record));
  for (auto field : kFields) FUZZ_CHECK(again.*field == record.*field);
  return 0;
}
