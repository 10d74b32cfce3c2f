// The one configuration record, its defaults, and the one config.json reader
// (LoadConfig) and writer (SaveConfig). The text rules live in config_text.cpp
// (no platform calls); only LoadConfig, SaveConfig and GetExeDirectory touch files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A colour as the platform's COLORREF: red in bits 0-7, green 8-15, blue 16-23.
using ConfigColor = uint32_t;

constexpr ConfigColor MakeConfigColor(int r, int g, int b) {
  return static_cast<ConfigColor>((r & 255) | ((g & 255) << 8) | ((b & 255) << 16));
}
constexpr int ColorRed(ConfigColor c) { return static_cast<int>(c & 255); }
constexpr int ColorGreen(ConfigColor c) { return static_cast<int>((c >> 8) & 255); }
constexpr int ColorBlue(ConfigColor c) { return static_cast<int>((c >> 16) & 255); }

// Placeholders: a real build registers its own Discord application and puts
// its id and secret here (or in config.json).
constexpr const wchar_t* kBuiltInClientId = L"1180000000000000000";
constexpr const wchar_t* kBuiltInClientSecret = L"VoxmereReplaceWithYourOwnSecret0";

struct Config {
  std::wstring client_id = kBuiltInClientId;
  std::wstring client_secret = kBuiltInClientSecret;
  std::wstring overlay_position = L"top_left";
  bool show_avatars = true;
  bool show_names = true;
  int32_t notification_duration = 5000;
  int32_t avatar_size = 48;
  int32_t margin = 20;
  int32_t monitor = 0;
  int32_t overlay_x = 20;
  int32_t overlay_y = 20;
  float inactive_opacity = 0.4f;
  float username_label_opacity = 1.0f;
  ConfigColor speaking_color = MakeConfigColor(67, 181, 129);
  ConfigColor muted_color = MakeConfigColor(237, 66, 69);
  ConfigColor deafened_color = MakeConfigColor(250, 166, 26);
  ConfigColor border_color = MakeConfigColor(255, 255, 255);
  float border_opacity = 0.0f;  // of the outline of silent avatars; 0: none
  int32_t notification_position = 0;
  bool allow_multi_instance = false;
  int32_t username_font_size = 12;
  int32_t notification_font_size = 12;
  bool pip_enabled = false;
  std::wstring pip_window_title;
  int32_t pip_x = 50;
  int32_t pip_y = 50;
  int32_t pip_width = 320;
  int32_t pip_height = 180;
  float pip_opacity = 0.9f;
  bool show_only_speaking = false;
  bool always_show_self = true;       // matters only with show_only_speaking
  std::wstring hidden_users;          // comma-separated user ids
  int32_t max_name_length = 0;        // user-perceived characters; 0: no limit, else 4 to 64
  std::string language;
  std::string toggle_hotkey = "Ctrl+Shift+O";  // shows or hides the overlay; empty: none
  std::string member_layout = "vertical";      // or "horizontal": a row, names under the tiles
  bool show_stream_marks = true;               // "LIVE" and camera marks beside the name
  std::string declined_plugin_update;          // the plugin version whose update the user declined
  bool start_with_windows = false;             // kept in the registry's Run key too (autostart.h)
  // Not a setting, and not in the file: the sizes and places above are in
  // 96-DPI units, and the overlay's drawn snapshot carries its monitor's DPI
  // over 96 here, by which drawing makes pixels of them.
  float display_scale = 1.0f;
  // The OBS pages on loopback: on by default, since they answer this machine's
  // own pages only; the port is the first tried.
  bool browser_source_enabled = true;
  int32_t browser_source_port = 47524;
};

// The ranges the reader clamps to, which the settings window's sliders offer.
struct SettingRange {
  int32_t minimum, maximum;
};
constexpr SettingRange kFontSizeRange = {8, 24};
constexpr SettingRange kNameLengthRange = {4, 64};  // 0 is no limit
constexpr int32_t kNotificationPositions = 6;       // top right, top left, bottom right, bottom left, top/bottom centre

// Text rules (config_text.cpp).
// hidden_users: whether the list names the id, and the list with the id
// added or taken out (pieces trimmed of spaces, empty ones dropped).
bool IdListContains(const std::wstring& list, const std::wstring& id);
std::vector<std::wstring> SplitIdList(const std::wstring& list);
std::wstring ToggleIdInList(const std::wstring& list, const std::wstring& id);
// Fills the record from the text of a config.json (LF line ends): a value
// that is missing, of another kind or out of reach keeps the field; ranges are
// clamped. A text that is no JSON still gives every key whose own value
// reads; the parser's reason is returned then (empty when the text is JSON).
std::string ApplyConfigText(Config& config, const std::string& text);
// The whole file as SaveConfig writes it, JSON with LF line ends.
std::string FormatConfigText(const Config& config);

// Files (config_file.cpp).
std::wstring GetExeDirectory();
std::wstring GetConfigPath();  // GetExeDirectory() + "\config.json"
bool LoadConfig(Config& config, const std::wstring& path);
bool SaveConfig(const Config& config, const std::wstring& path);
