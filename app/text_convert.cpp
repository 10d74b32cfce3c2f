#include "app/text_convert.h"

#include <cstdint>

namespace {

bool IsHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Appends units [i, ...) as UTF-8, one code point; returns units consumed.
size_t AppendUnitAsUtf8(std::string& out, const std::wstring& text, size_t i) {
  uint32_t u = static_cast<uint32_t>(text[i]) & 0xFFFF;
  if (IsHighSurrogate(u) && i + 1 < text.size()) {
    uint32_t low = static_cast<uint32_t>(text[i + 1]) & 0xFFFF;
    if (IsLowSurrogate(low)) {
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
      return 2;
    }
  }
  AppendUtf8(out, (IsHighSurrogate(u) || IsLowSurrogate(u)) ? 0xFFFD : u);
  return 1;
}

}  // namespace

std::wstring BytesToWide(const std::string& bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    auto unit = static_cast<uint16_t>(static_cast<int16_t>(static_cast<signed char>(c)));
    out += static_cast<wchar_t>(unit);
  }
  return out;
}

std::string WideToBytes(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t w : text) out += static_cast<char>(static_cast<uint32_t>(w) & 0xFF);
  return out;
}

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) i += AppendUnitAsUtf8(out, text, i);
  return out;
}
