// The notification text as the pipe and WebSocket endpoints hand it over:
// arbitrary bytes give a record whose display name falls back to the user
// name, and a record written by FormatNotification parses back unchanged.
#include <cstdint>
#include <string>

#include "notify/notification_parse.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const NotificationData record = ParseNotification(text);
  FUZZ_CHECK(!record.displayName.empty() || record.username.empty());
  const auto fields = {&NotificationData::username, &NotificationData::displayName, &NotificationData::content,
                       &NotificationData::avatarUrl, &NotificationData::channelName, &NotificationData::serverName,
                       &NotificationData::avatarHash, &NotificationData::userId};
  // A \u0000 escape ends a field (the text conversion stops at the first NUL).
  for (auto field : fields) FUZZ_CHECK((record.*field).find(L'\0') == std::wstring::npos);
  std::string problem;
  const NotificationData again = ParseNotification(FormatNotification(record), &problem);
  FUZZ_CHECK(problem.empty());
  for (auto field : fields) FUZZ_CHECK(again.*field == record.*field);
  return 0;
}
