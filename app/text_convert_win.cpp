#include <windows.h>

#include "app/text_convert.h"

std::wstring Utf8ToWide(const std::string& bytes) {
  if (bytes.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n - 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, out.data(), n);
  return out;
}
