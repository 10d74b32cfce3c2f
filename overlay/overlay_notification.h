// One notification card held by the overlay: the notification as it came,
// and its animation state.
#pragma once

#include <cstdint>

#include "notify/notification_data.h"

struct OverlayNotification {
  NotificationData data;
  uint32_t createdTick = 0;
  float alpha = 1.0f;    // falls to 0 during the last 500 ms
  float slideIn = 0.0f;  // reaches 1 after 300 ms
};
