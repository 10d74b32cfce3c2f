#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/config.h"
#include "app/text_convert.h"

std::string FindConfigValue(const std::string& text, const std::string& key) {
  size_t at = text.find("\"" + key + "\"");
  if (at == std::string::npos) return {};
  size_t colon = text.find(':', at);
  if (colon == std::string::npos) return {};
  size_t start = colon + 1;
  int quotesPassed = 0;
  while (start < text.size() && (text[start] == ' ' || text[start] == '"')) {
    if (text[start] == '"') ++quotesPassed;
    ++start;
  }
  // An empty quoted value ("") would otherwise run on to the next quote.
  if (quotesPassed >= 2) return {};
  bool quoted = start > 0 && text[start - 1] == '"';
  size_t end = quoted ? text.find('"', start) : text.find_first_of(",}", start);
  if (end == std::string::npos) end = text.size();
  // A hand-written file's last unquoted value is followed by its line break.
  if (!quoted) end = std::max(start, text.find_last_not_of(" \t\r\n", end - 1) + 1);
  return text.substr(start, end - start);
}

int32_t ReadConfigInt(const std::string& text, const std::string& key, int32_t fallback) {
  std::string value = FindConfigValue(text, key);
  if (value.empty()) return fallback;
  errno = 0;
  char* end = nullptr;
  long long n = std::strtoll(value.c_str(), &end, 10);
  if (end == value.c_str() || errno == ERANGE || n < INT32_MIN || n > INT32_MAX) return fallback;
  return static_cast<int32_t>(n);
}

float ReadConfigFloat(const std::string& text, const std::string& key, float fallback) {
  std::string value = FindConfigValue(text, key);
  if (value.empty()) return fallback;
  errno = 0;
  char* end = nullptr;
  float f = std::strtof(value.c_str(), &end);
  // strtof also takes "nan" and "inf": neither is a usable opacity.
  if (end == value.c_str() || errno == ERANGE || !std::isfinite(f)) return fallback;
  return f;
}

bool ReadConfigBool(const std::string& text, const std::string& key, bool fallback) {
  std::string value = FindConfigValue(text, key);
  if (value == "true") return true;
  if (value == "false") return false;
  return fallback;
}

namespace {

// Spaces are dropped: ids have none, and hand-edited lists often do.
std::vector<std::wstring> SplitIdList(const std::wstring& list) {
  std::vector<std::wstring> ids;
  std::wstring piece;
  for (size_t i = 0; i <= list.size(); ++i) {
    if (i < list.size() && list[i] != L',') {
      if (list[i] != L' ') piece += list[i];
      continue;
    }
    if (!piece.empty()) ids.push_back(piece);
    piece.clear();
  }
  return ids;
}

void ReadWide(const std::string& text, const char* key, std::wstring& field) {
  // Bytes that convert to nothing (a leading NUL) leave the field as well.
  std::wstring value = Utf8ToWide(FindConfigValue(text, key));
  if (!value.empty()) field = value;
}

void ReadColor(const std::string& text, const std::string& key, ConfigColor& color) {
  int r = ReadConfigInt(text, key + "_r", ColorRed(color));
  int g = ReadConfigInt(text, key + "_g", ColorGreen(color));
  int b = ReadConfigInt(text, key + "_b", ColorBlue(color));
  color = MakeConfigColor(r, g, b);
}

std::string FormatFloat(float f) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", static_cast<double>(f));
  return buf;
}

const char* FormatBool(bool b) { return b ? "true" : "false"; }

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

bool IdListContains(const std::wstring& list, const std::wstring& id) {
  std::vector<std::wstring> ids = SplitIdList(list);
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

std::wstring ToggleIdInList(const std::wstring& list, const std::wstring& id) {
  std::vector<std::wstring> ids = SplitIdList(list);
  auto at = std::find(ids.begin(), ids.end(), id);
  if (at != ids.end()) ids.erase(at);
  else ids.push_back(id);
  std::wstring joined;
  for (const std::wstring& each : ids) joined += (joined.empty() ? L"" : L",") + each;
  return joined;
}

namespace {

int32_t ClampNameLength(int32_t n) { return n <= 0 ? 0 : std::clamp(n, 4, 64); }

}  // namespace

void ApplyConfigText(Config& c, const std::string& text) {
  ReadWide(text, "client_id", c.client_id);
  ReadWide(text, "client_secret", c.client_secret);
  ReadWide(text, "overlay_position", c.overlay_position);
  c.show_avatars = ReadConfigBool(text, "show_avatars", c.show_avatars);
  c.show_names = ReadConfigBool(text, "show_names", c.show_names);
  c.notification_duration = ReadConfigInt(text, "notification_duration", c.notification_duration);
  c.avatar_size = ReadConfigInt(text, "avatar_size", c.avatar_size);
  c.margin = ReadConfigInt(text, "margin", c.margin);
  c.monitor = ReadConfigInt(text, "monitor", c.monitor);
  c.overlay_x = ReadConfigInt(text, "overlay_x", c.overlay_x);
  c.overlay_y = ReadConfigInt(text, "overlay_y", c.overlay_y);
  c.inactive_opacity = ReadConfigFloat(text, "inactive_opacity", c.inactive_opacity);
  c.username_label_opacity = std::clamp(
      ReadConfigFloat(text, "username_label_opacity", c.username_label_opacity), 0.0f, 1.0f);
  ReadColor(text, "speaking_color", c.speaking_color);
  ReadColor(text, "muted_color", c.muted_color);
  ReadColor(text, "deafened_color", c.deafened_color);
  ReadColor(text, "border_color", c.border_color);
  c.notification_position = ReadConfigInt(text, "notification_position", c.notification_position);
  if (c.notification_position < 0 || c.notification_position > 5) c.notification_position = 0;
  c.allow_multi_instance = ReadConfigBool(text, "allow_multi_instance", c.allow_multi_instance);
  c.username_font_size = std::clamp(ReadConfigInt(text, "username_font_size", c.username_font_size), 8, 24);
  c.notification_font_size =
      std::clamp(ReadConfigInt(text, "notification_font_size", c.notification_font_size), 8, 24);
  c.pip_enabled = ReadConfigBool(text, "pip_enabled", c.pip_enabled);
  ReadWide(text, "pip_window_title", c.pip_window_title);
  c.pip_x = ReadConfigInt(text, "pip_x", c.pip_x);
  c.pip_y = ReadConfigInt(text, "pip_y", c.pip_y);
  c.pip_width = ReadConfigInt(text, "pip_width", c.pip_width);
  c.pip_height = ReadConfigInt(text, "pip_height", c.pip_height);
  c.pip_opacity = ReadConfigFloat(text, "pip_opacity", c.pip_opacity);
  c.show_only_speaking = ReadConfigBool(text, "show_only_speaking", c.show_only_speaking);
  c.always_show_self = ReadConfigBool(text, "always_show_self", c.always_show_self);
  ReadWide(text, "hidden_users", c.hidden_users);
  c.max_name_length = ClampNameLength(ReadConfigInt(text, "max_name_length", c.max_name_length));
  c.language = FindConfigValue(text, "language");
}

std::string FormatConfigText(const Config& c) {
  std::string out = "{\n";
  auto line = [&out](const char* key, const std::string& value) {
    out += "  \"";
    out += key;
    out += "\": " + value + ",\n";
  };
  auto color = [&line](const std::string& key, ConfigColor value) {
    line((key + "_r").c_str(), std::to_string(ColorRed(value)));
    line((key + "_g").c_str(), std::to_string(ColorGreen(value)));
    line((key + "_b").c_str(), std::to_string(ColorBlue(value)));
  };
  line("client_id", Quoted(WideToUtf8(c.client_id)));
  line("show_avatars", FormatBool(c.show_avatars));
  line("show_names", FormatBool(c.show_names));
  line("avatar_size", std::to_string(c.avatar_size));
  line("margin", std::to_string(c.margin));
  line("monitor", std::to_string(c.monitor));
  line("overlay_x", std::to_string(c.overlay_x));
  line("overlay_y", std::to_string(c.overlay_y));
  line("inactive_opacity", FormatFloat(c.inactive_opacity));
  line("username_label_opacity", FormatFloat(c.username_label_opacity));
  color("speaking_color", c.speaking_color);
  color("muted_color", c.muted_color);
  color("deafened_color", c.deafened_color);
  color("border_color", c.border_color);
  line("notification_position", std::to_string(c.notification_position));
  line("allow_multi_instance", FormatBool(c.allow_multi_instance));
  line("username_font_size", std::to_string(c.username_font_size));
  line("notification_font_size", std::to_string(c.notification_font_size));
  line("pip_enabled", FormatBool(c.pip_enabled));
  line("pip_x", std::to_string(c.pip_x));
  line("pip_y", std::to_string(c.pip_y));
  line("pip_width", std::to_string(c.pip_width));
  line("pip_height", std::to_string(c.pip_height));
  line("pip_opacity", FormatFloat(c.pip_opacity));
  line("show_only_speaking", FormatBool(c.show_only_speaking));
  line("always_show_self", FormatBool(c.always_show_self));
  line("hidden_users", Quoted(WideToUtf8(c.hidden_users)));
  line("max_name_length", std::to_string(c.max_name_length));
  // Keys the settings never change: written only when set by hand, so such a
  // value survives a save and stays in force at the next start.
  const Config defaults;
  if (c.client_secret != defaults.client_secret) line("client_secret", Quoted(WideToUtf8(c.client_secret)));
  if (c.overlay_position != defaults.overlay_position)
    line("overlay_position", Quoted(WideToUtf8(c.overlay_position)));
  if (c.notification_duration != defaults.notification_duration)
    line("notification_duration", std::to_string(c.notification_duration));
  if (c.pip_window_title != defaults.pip_window_title)
    line("pip_window_title", Quoted(WideToUtf8(c.pip_window_title)));
  out += "  \"language\": " + Quoted(c.language) + "\n}\n";
  return out;
}
