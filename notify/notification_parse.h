// The notification text: one JSON object in UTF-8 whose string members fill a
// NotificationData. Fields are found by a plain search for the quoted key, not
// by a JSON parser; senders rely on exactly these rules.
#pragma once

#include <string>

#include "notify/notification_data.h"

// Unescaped bytes of the string value at the first occurrence of "key";
// empty when the key is missing or its value is not a string. \" \\ \n \r \t
// are decoded; any other escaped byte stands for itself (\u is not decoded).
std::string ExtractJsonString(const std::string& text, const std::string& key);

// Never fails: missing fields stay empty. An empty displayName takes username.
NotificationData ParseNotification(const std::string& text);

// The text a sender writes for a record: every field as a string member,
// non-ASCII as raw UTF-8, escaped so that ParseNotification gives it back
// (control bytes other than \n \r \t come back as the letters of their \u escape).
std::string FormatNotification(const NotificationData& data);
