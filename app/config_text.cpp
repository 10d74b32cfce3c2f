#include <algorithm>
#include <cmath>
#include <cstdio>
#include <variant>
#include <vector>

#include "app/config.h"
#include "app/json.h"
#include "app/text_convert.h"

namespace {

using ConfigField = std::variant<std::wstring Config::*, std::string Config::*, bool Config::*, int32_t Config::*,
                                 float Config::*, ConfigColor Config::*>;

struct ConfigKey {
  const char* name;  // a colour's three keys are this name with "_r", "_g" and "_b"
  ConfigField field;
  // Keys the program never changes are written only when set by hand, so such
  // a value survives a save and stays in force at the next start.
  bool handSetOnly = false;
};

// Every key, in the order the file is written (language last, as always).
const ConfigKey kKeys[] = {
    {"client_id", &Config::client_id},
    {"show_avatars", &Config::show_avatars},
    {"show_names", &Config::show_names},
    {"avatar_size", &Config::avatar_size},
    {"margin", &Config::margin},
    {"monitor", &Config::monitor},
    {"overlay_x", &Config::overlay_x},
    {"overlay_y", &Config::overlay_y},
    {"inactive_opacity", &Config::inactive_opacity},
    {"username_label_opacity", &Config::username_label_opacity},
    {"speaking_color", &Config::speaking_color},
    {"muted_color", &Config::muted_color},
    {"deafened_color", &Config::deafened_color},
    {"border_color", &Config::border_color},
    {"notification_position", &Config::notification_position},
    {"allow_multi_instance", &Config::allow_multi_instance},
    {"username_font_size", &Config::username_font_size},
    {"notification_font_size", &Config::notification_font_size},
    {"pip_enabled", &Config::pip_enabled},
    {"pip_x", &Config::pip_x},
    {"pip_y", &Config::pip_y},
    {"pip_width", &Config::pip_width},
    {"pip_height", &Config::pip_height},
    {"pip_opacity", &Config::pip_opacity},
    {"show_only_speaking", &Config::show_only_speaking},
    {"always_show_self", &Config::always_show_self},
    {"hidden_users", &Config::hidden_users},
    {"max_name_length", &Config::max_name_length},
    {"border_opacity", &Config::border_opacity},
    {"toggle_hotkey", &Config::toggle_hotkey},
    {"member_layout", &Config::member_layout},
    {"show_stream_marks", &Config::show_stream_marks},
    {"start_with_windows", &Config::start_with_windows},
    {"browser_source_enabled", &Config::browser_source_enabled},
    {"browser_source_port", &Config::browser_source_port, true},
    {"client_secret", &Config::client_secret, true},
    {"overlay_position", &Config::overlay_position, true},
    {"notification_duration", &Config::notification_duration, true},
    {"pip_window_title", &Config::pip_window_title, true},
    {"declined_plugin_update", &Config::declined_plugin_update},
    {"language", &Config::language},
};

const char* const kColorSuffixes[] = {"_r", "_g", "_b"};

// Every key name as it stands in the file.
std::vector<std::string> FileKeyNames() {
  std::vector<std::string> names;
  for (const ConfigKey& key : kKeys) {
    if (!std::holds_alternative<ConfigColor Config::*>(key.field)) {
      names.push_back(key.name);
      continue;
    }
    for (const char* suffix : kColorSuffixes) names.push_back(key.name + std::string(suffix));
  }
  return names;
}

// A file that is no JSON (a hand edit gone wrong) still gives each key whose
// own value can be read: the first occurrence of the quoted key, a colon and
// one JSON value.
Json ReadEachKey(const std::string& text) {
  Json members = Json::object();
  for (const std::string& name : FileKeyNames()) {
    size_t at = text.find("\"" + name + "\"");
    if (at == std::string::npos) continue;
    size_t colon = text.find_first_not_of(" \t\r\n", at + name.size() + 2);
    if (colon == std::string::npos || text[colon] != ':') continue;
    if (auto value = ParseJsonPrefix(std::string_view(text).substr(colon + 1))) members[name] = std::move(*value);
  }
  return members;
}

// A number, or a number written as a string ("64"), as a hand-edited file may hold.
std::optional<double> NumberOf(const Json& value) {
  if (value.is_number()) return value.get<double>();
  if (!value.is_string()) return std::nullopt;
  auto parsed = ParseJson(value.get_ref<const std::string&>());
  if (!parsed || !parsed->is_number()) return std::nullopt;
  return parsed->get<double>();
}

// Integers truncate a fraction (4.5 reads 4); what does not fit keeps the field.
bool ReadInt(const Json& value, int32_t& field) {
  auto number = NumberOf(value);
  if (!number || !(*number > INT32_MIN - 1.0 && *number < INT32_MAX + 1.0)) return false;
  field = static_cast<int32_t>(*number);
  return true;
}

void ReadValue(const Json& value, std::wstring& field) {
  // A number stands for its digits ("client_id": 123); an empty text or one
  // that converts to nothing (a leading NUL) keeps the field.
  std::string text = value.is_string() ? value.get<std::string>() : value.is_number() ? FormatJson(value) : "";
  std::wstring wide = Utf8ToWide(text);
  if (!wide.empty()) field = wide;
}

void ReadValue(const Json& value, std::string& field) {
  if (value.is_string()) field = value.get<std::string>();
}

void ReadValue(const Json& value, bool& field) {
  if (value.is_boolean()) field = value.get<bool>();
}

void ReadValue(const Json& value, int32_t& field) { ReadInt(value, field); }

void ReadValue(const Json& value, float& field) {
  auto number = NumberOf(value);
  // inf or nan, or a value beyond a float, is no usable opacity.
  if (number && std::isfinite(static_cast<float>(*number))) field = static_cast<float>(*number);
}

void ReadKey(const Json& members, const ConfigKey& key, Config& config) {
  std::visit(
      [&](auto member) {
        auto& field = config.*member;
        if constexpr (std::is_same_v<std::decay_t<decltype(field)>, ConfigColor>) {
          int parts[3] = {ColorRed(field), ColorGreen(field), ColorBlue(field)};
          for (int i = 0; i < 3; ++i)
            if (const Json* part = JsonMember(members, key.name + std::string(kColorSuffixes[i]))) ReadInt(*part, parts[i]);
          field = MakeConfigColor(parts[0], parts[1], parts[2]);  // each component keeps its low 8 bits
        } else if (const Json* value = JsonMember(members, key.name)) {
          ReadValue(*value, field);
        }
      },
      key.field);
}

void ClampToRanges(Config& c) {
  c.username_label_opacity = std::clamp(c.username_label_opacity, 0.0f, 1.0f);
  c.border_opacity = std::clamp(c.border_opacity, 0.0f, 1.0f);
  if (c.notification_position < 0 || c.notification_position >= kNotificationPositions) c.notification_position = 0;
  c.username_font_size = std::clamp(c.username_font_size, kFontSizeRange.minimum, kFontSizeRange.maximum);
  c.notification_font_size = std::clamp(c.notification_font_size, kFontSizeRange.minimum, kFontSizeRange.maximum);
  c.max_name_length =
      c.max_name_length <= 0 ? 0 : std::clamp(c.max_name_length, kNameLengthRange.minimum, kNameLengthRange.maximum);
  c.browser_source_port = std::clamp(c.browser_source_port, 1024, 65535);
}

Json ValueOf(const std::wstring& field) { return WideToUtf8(field); }
Json ValueOf(const std::string& field) { return field; }
Json ValueOf(bool field) { return field; }
Json ValueOf(int32_t field) { return field; }
// Six significant digits, as the file has always held them.
Json ValueOf(float field) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%g", static_cast<double>(field));
  return std::strtod(digits, nullptr);
}

void AddLine(std::string& out, const std::string& name, const Json& value) {
  if (out.size() > 2) out += ",\n";
  out += "  " + FormatJson(name) + ": " + FormatJson(value);
}

}  // namespace

std::string ApplyConfigText(Config& config, const std::string& text) {
  std::string problem;
  std::optional<Json> whole = ParseJson(text, &problem);
  if (whole && !whole->is_object()) problem = "the file holds no JSON object";
  // An empty file is no error: it is a file without keys.
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) problem.clear();
  const Json members = whole && whole->is_object() ? *whole : ReadEachKey(text);
  for (const ConfigKey& key : kKeys) ReadKey(members, key, config);
  ClampToRanges(config);
  return problem;
}

std::string FormatConfigText(const Config& config) {
  const Config defaults;
  std::string out = "{\n";
  for (const ConfigKey& key : kKeys) {
    std::visit(
        [&](auto member) {
          const auto& field = config.*member;
          if (key.handSetOnly && field == defaults.*member) return;
          if constexpr (std::is_same_v<std::decay_t<decltype(field)>, ConfigColor>) {
            const int parts[3] = {ColorRed(field), ColorGreen(field), ColorBlue(field)};
            for (int i = 0; i < 3; ++i) AddLine(out, key.name + std::string(kColorSuffixes[i]), parts[i]);
          } else {
            AddLine(out, key.name, ValueOf(field));
          }
        },
        key.field);
  }
  return out + "\n}\n";
}

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
