// The notification text as the pipe and WebSocket endpoints hand it over:
// arbitrary bytes give a record whose display name falls back to the user
// name, and a record written by FormatNotification parses back unchanged.
#include <cstdint>
#include <string>

#include "app/text_convert.h"
#include "notify/notification_parse.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const NotificationData record = ParseNotification(text);
  if (Utf8ToWide(ExtractJsonString(text, "displayName")).empty()) FUZZ_CHECK(record.displayName == record.username);
  // What the format cannot carry: control bytes come back as \u letters, and
  // a value holding a quote or spelled like a key may be found by that key's
  // search (the first occurrence wins).
  const std::wstring keys = L"|username|displayName|content|avatarUrl|channelName|serverName|avatarHash|userId|";
  const auto fields = {&NotificationData::username, &NotificationData::displayName, &NotificationData::content,
                       &NotificationData::avatarUrl, &NotificationData::channelName, &NotificationData::serverName,
                       &NotificationData::avatarHash, &NotificationData::userId};
  bool clean = true;
  for (auto field : fields) {
    const std::wstring& value = record.*field;
    FUZZ_CHECK(value.find(L'\0') == std::wstring::npos);
    clean = clean && value.find(L'"') == std::wstring::npos && keys.find(L"|" + value + L"|") == std::wstring::npos;
    for (wchar_t c : value) clean = clean && (c >= 0x20 || c == L'\n' || c == L'\r' || c == L'\t');
  }
  const NotificationData again = ParseNotification(FormatNotification(record));
  for (auto field : fields) FUZZ_CHECK(!clean || again.*field == record.*field);
  return 0;
}
