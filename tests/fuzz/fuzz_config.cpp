// The config.json text rules on arbitrary file bytes (LoadConfig hands the
// file's text to ApplyConfigText): every field ends up in its range, and a
// record saved and loaded again saves the same text.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/config.h"
#include "app/text_convert.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

const char* const kKeys[] = {"client_id", "overlay_position", "show_names", "avatar_size", "inactive_opacity",
                             "username_label_opacity", "speaking_color_r", "notification_position",
                             "username_font_size", "pip_window_title", "pip_opacity", "language"};

void CheckReaders(const std::string& text, const std::string& key) {
  std::string value = FindConfigValue(text, key);
  FUZZ_CHECK(IsPartOf(value, text));
  FUZZ_CHECK(value.empty() || (value[0] != ' ' && value[0] != '"'));
  FUZZ_CHECK(ReadConfigBool(text, key, false) == (value == "true"));
  FUZZ_CHECK(ReadConfigBool(text, key, true) == (value != "false"));
  FUZZ_CHECK(!value.empty() || ReadConfigInt(text, key, 7) == 7);
  FUZZ_CHECK(std::isfinite(ReadConfigFloat(text, key, 0.5f)));
}

bool IsStable(float f) { return f == 0.0f || std::fabs(f) >= 1e-37f; }

void CheckRanges(const Config& c) {
  FUZZ_CHECK(std::isfinite(c.inactive_opacity) && std::isfinite(c.pip_opacity));
  FUZZ_CHECK(c.username_label_opacity >= 0.0f && c.username_label_opacity <= 1.0f);
  FUZZ_CHECK(c.username_font_size >= 8 && c.username_font_size <= 24);
  FUZZ_CHECK(c.notification_font_size >= 8 && c.notification_font_size <= 24);
  FUZZ_CHECK(c.notification_position >= 0 && c.notification_position <= 5);
  for (ConfigColor color : {c.speaking_color, c.muted_color, c.deafened_color, c.border_color})
    FUZZ_CHECK(color <= 0xFFFFFFu);
  // A value that reads as empty leaves the field at its default.
  FUZZ_CHECK(!c.client_id.empty() && !c.client_secret.empty() && !c.overlay_position.empty());
}

// The keys of a saved text: the first quoted token of each line.
std::vector<std::string> SavedKeys(const std::string& saved) {
  std::vector<std::string> keys;
  for (size_t line = 0; line < saved.size();) {
    size_t end = saved.find('\n', line);
    if (end == std::string::npos) end = saved.size();
    std::string key = FirstQuotedToken(saved.substr(line, end - line));
    if (!key.empty()) keys.push_back(key);
    line = end + 1;
  }
  return keys;
}

// Every key a file can hold: a record whose hand-set keys differ from the
// defaults writes them all.
const std::vector<std::string>& AllKeys() {
  static const std::vector<std::string> keys = [] {
    Config c;
    c.client_secret = c.overlay_position = c.pip_window_title = L"x";
    c.notification_duration = 1;
    return SavedKeys(FormatConfigText(c));
  }();
  return keys;
}

// The format has no escapes and the first occurrence of a quoted key wins, so
// a string value holding a double quote, or spelled like a key, cannot come
// back. Floats must survive six digits.
bool CanRoundTrip(const Config& c) {
  std::vector<std::string> values = {WideToUtf8(c.client_id), WideToUtf8(c.client_secret),
                                     WideToUtf8(c.overlay_position), WideToUtf8(c.pip_window_title), c.language};
  const std::vector<std::string>& keys = AllKeys();
  for (const std::string& value : values) {
    if (value.find('"') != std::string::npos) return false;
    if (std::find(keys.begin(), keys.end(), value) != keys.end()) return false;
  }
  return IsStable(c.inactive_opacity) && IsStable(c.username_label_opacity) && IsStable(c.pip_opacity);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const char* key : kKeys) CheckReaders(text, key);
  CheckReaders(text, FirstQuotedToken(text));

  Config config;
  ApplyConfigText(config, text);
  CheckRanges(config);
  if (!CanRoundTrip(config)) return 0;
  const std::string saved = FormatConfigText(config);
  Config loaded;
  ApplyConfigText(loaded, saved);
  FUZZ_CHECK(FormatConfigText(loaded) == saved);
  return 0;
}
