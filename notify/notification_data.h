// One notification from the companion plugin, each field named after the
// JSON key that fills it.
#pragma once

#include <string>

struct NotificationData {
  std::wstring username;
  std::wstring displayName;
  std::wstring content;
  std::wstring avatarUrl;
  std::wstring channelName;
  std::wstring serverName;
  std::wstring avatarHash;
  std::wstring userId;
};
