// One notification card held by the overlay, with its animation state.
#pragma once

#include <cstdint>
#include <string>

struct OverlayNotification {
  std::wstring username;
  std::wstring displayName;
  std::wstring content;
  std::wstring avatarUrl;
  std::wstring avatarHash;
  std::wstring userId;
  std::wstring channelName;
  std::wstring serverName;
  uint32_t createdTick = 0;
  float alpha = 1.0f;    // falls to 0 during the last 500 ms
  float slideIn = 0.0f;  // reaches 1 after 300 ms
};
