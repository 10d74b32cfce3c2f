#include "notify/notification_parse.h"

#include <cstdio>

#include "app/text_convert.h"

namespace {

struct FieldKey {
  const char* key;
  std::wstring NotificationData::*field;
};

// In record order, which is also the order in which a sender writes them.
const FieldKey kFieldKeys[] = {
    {"username", &NotificationData::username},
    {"displayName", &NotificationData::displayName},
    {"content", &NotificationData::content},
    {"avatarUrl", &NotificationData::avatarUrl},
    {"channelName", &NotificationData::channelName},
    {"serverName", &NotificationData::serverName},
    {"avatarHash", &NotificationData::avatarHash},
    {"userId", &NotificationData::userId},
};

char Unescaped(char c) {
  switch (c) {
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    default: return c;  // \" \\ \/ and everything else: the byte itself
  }
}

void AppendJsonString(std::string& out, const std::string& bytes) {
  out += '"';
  for (char c : bytes) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          // Keeps the text valid JSON; the receiver keeps the escape's letters.
          char escape[8];
          std::snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned>(c));
          out += escape;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

}  // namespace

std::string ExtractJsonString(const std::string& text, const std::string& key) {
  size_t at = text.find("\"" + key + "\"");
  if (at == std::string::npos) return {};
  size_t colon = text.find(':', at);
  if (colon == std::string::npos) return {};
  size_t i = colon + 1;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i >= text.size() || text[i] != '"') return {};
  std::string value;
  for (++i; i < text.size() && text[i] != '"'; ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      value += Unescaped(text[++i]);
    } else {
      value += text[i];
    }
  }
  return value;
}

NotificationData ParseNotification(const std::string& text) {
  NotificationData data;
  for (const FieldKey& f : kFieldKeys) data.*f.field = Utf8ToWide(ExtractJsonString(text, f.key));
  if (data.displayName.empty()) data.displayName = data.username;
  return data;
}

std::string FormatNotification(const NotificationData& data) {
  std::string text = "{";
  for (const FieldKey& f : kFieldKeys) {
    if (text.size() > 1) text += ',';
    AppendJsonString(text, f.key);
    text += ':';
    AppendJsonString(text, WideToUtf8(data.*f.field));
  }
  return text + "}";
}
