// Host builds (sanitizers, fuzzers) have no MultiByteToWideChar: decode UTF-8
// the way it does with flags 0, each invalid sequence giving U+FFFD.
#include <cstdint>

#include "app/text_convert.h"

namespace {

void AppendUtf16(std::wstring& out, uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (cp >> 10));
    out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<wchar_t>(cp);
  }
}

// Decodes one sequence at s[i]; returns its length, or 0 when invalid.
size_t DecodeSequence(const unsigned char* s, size_t n, size_t i, uint32_t& cp) {
  unsigned char b = s[i];
  size_t len;
  uint32_t min;
  if (b < 0x80) { cp = b; return 1; }
  if (b >= 0xC2 && b <= 0xDF) { len = 2; cp = b & 0x1F; min = 0x80; }
  else if (b >= 0xE0 && b <= 0xEF) { len = 3; cp = b & 0x0F; min = 0x800; }
  else if (b >= 0xF0 && b <= 0xF4) { len = 4; cp = b & 0x07; min = 0x10000; }
  else return 0;
  if (i + len > n) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((s[i + k] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (s[i + k] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

std::wstring Utf8ToWide(const std::string& bytes) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.c_str());
  size_t n = 0;
  while (n < bytes.size() && s[n] != 0) ++n;
  std::wstring out;
  for (size_t i = 0; i < n;) {
    uint32_t cp = 0;
    size_t len = DecodeSequence(s, n, i, cp);
    if (len == 0) {
      out += static_cast<wchar_t>(0xFFFD);
      ++i;
    } else {
      AppendUtf16(out, cp);
      i += len;
    }
  }
  return out;
}
