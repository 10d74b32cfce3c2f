// config.json on arbitrary file bytes (LoadConfig hands the file's text to
// ApplyConfigText): every field ends up in its range, and what a save writes
// is JSON that loads back to the same text.
#include <cmath>
#include <cstdint>
#include <string>

#include "app/config.h"
#include "app/json.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// Six significant digits cannot hold what lies below a float's normal range.
bool IsStable(float f) { return f == 0.0f || std::fabs(f) >= 1e-37f; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Config c;
  ApplyConfigText(c, text);
  FUZZ_CHECK(std::isfinite(c.inactive_opacity) && std::isfinite(c.pip_opacity));
  FUZZ_CHECK(c.username_label_opacity >= 0.0f && c.username_label_opacity <= 1.0f);
  FUZZ_CHECK(c.username_font_size >= 8 && c.username_font_size <= 24);
  FUZZ_CHECK(c.notification_position >= 0 && c.notification_position <= 5);
  // A value that reads as empty (a leading NUL) leaves the field at its default.
  FUZZ_CHECK(!c.client_id.empty() && !c.client_secret.empty() && !c.overlay_position.empty());
  const std::string saved = FormatConfigText(c);
  auto parsed = ParseJson(saved);
  FUZZ_CHECK(parsed && parsed->is_object());
  if (!IsStable(c.inactive_opacity) || !IsStable(c.username_label_opacity) || !IsStable(c.pip_opacity)) return 0;
  Config loaded;
  FUZZ_CHECK(ApplyConfigText(loaded, saved).empty());
  FUZZ_CHECK(FormatConfigText(loaded) == saved);
  return 0;
}
