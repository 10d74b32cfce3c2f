// The notification text: one JSON object in UTF-8 whose string members fill a
// NotificationData. The first string value of each key, in text order and at
// any depth, is taken; a member of another kind leaves its field empty.
#pragma once

#include <string>

#include "notify/notification_data.h"

// Never fails: missing fields stay empty, an empty displayName takes username.
// A text that is no JSON keeps what was read before the fault; the parser's
// reason goes to *problem then (empty when the text is JSON).
NotificationData ParseNotification(const std::string& text, std::string* problem = nullptr);

// The text a sender writes for a record: every field as a string member.
std::string FormatNotification(const NotificationData& data);
