#include <windows.h>

#include "app/log.h"
#include "app/text_convert.h"

std::wstring g_logPath;

void WriteLogLine(const std::wstring& text) {
  if (g_logPath.empty()) return;
  HANDLE file = CreateFileW(g_logPath.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  // One write per line keeps concurrent writers' lines whole.
  std::string bytes = WideToLogBytes(text) + "\r\n";
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}
