// The config.json text rules on arbitrary file bytes (LoadConfig hands the
// file's text to ApplyConfigText): every field ends up in its range, and a
// record saved and loaded again saves the same text.
#include <cmath>
#include <cstdint>
#include <string>

#include "app/config.h"
#include "app/text_convert.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool IsStable(float f) { return f == 0.0f || std::fabs(f) >= 1e-37f; }

// The format has no escapes and the first occurrence of a quoted key wins, so
// a string value holding a double quote, or spelled like a key, cannot come
// back. Floats must survive six digits.
bool CanRoundTrip(const Config& c) {
  static const std::string everyKey = [] {
    Config all;  // hand-set keys that differ from the defaults: every key is written
    all.client_secret = all.overlay_position = all.pip_window_title = L"x";
    all.notification_duration = 1;
    return FormatConfigText(all);
  }();
  for (const std::string& value : {WideToUtf8(c.client_id), WideToUtf8(c.client_secret), WideToUtf8(c.overlay_position),
                                   WideToUtf8(c.pip_window_title), WideToUtf8(c.hidden_users), c.language})
    if (IsPartOf("\"", value) || IsPartOf("\"" + value + "\":", everyKey)) return false;
  return IsStable(c.inactive_opacity) && IsStable(c.username_label_opacity) && IsStable(c.pip_opacity);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const std::string& key : {std::string("client_id"), std::string("inactive_opacity"), FirstQuotedToken(text)}) {
    FUZZ_CHECK(IsPartOf(FindConfigValue(text, key), text));
    FUZZ_CHECK(std::isfinite(ReadConfigFloat(text, key, 0.5f)));  // nan and inf keep the current value
  }
  Config c;
  ApplyConfigText(c, text);
  FUZZ_CHECK(std::isfinite(c.inactive_opacity) && std::isfinite(c.pip_opacity));
  FUZZ_CHECK(c.username_label_opacity >= 0.0f && c.username_label_opacity <= 1.0f);
  FUZZ_CHECK(c.username_font_size >= 8 && c.username_font_size <= 24);
  FUZZ_CHECK(c.notification_position >= 0 && c.notification_position <= 5);
  // A value that reads as empty (a leading NUL) leaves the field at its default.
  FUZZ_CHECK(!c.client_id.empty() && !c.client_secret.empty() && !c.overlay_position.empty());
  if (!CanRoundTrip(c)) return 0;
  const std::string saved = FormatConfigText(c);
  Config loaded;
  ApplyConfigText(loaded, saved);
  FUZZ_CHECK(FormatConfigText(loaded) == saved);
  return 0;
}
