#include "app/autostart.h"

#include <windows.h>

#include <vector>

#include "app/log.h"

namespace {

// The value as it stands; empty when there is none.
std::wstring ReadRunValue() {
  DWORD bytes = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
      ERROR_SUCCESS)
    return {};
  std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
  if (RegGetValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, RRF_RT_REG_SZ, nullptr, text.data(), &bytes) !=
      ERROR_SUCCESS)
    return {};
  return text.data();
}

bool LogRegistryFailure(const wchar_t* call, LSTATUS status) {
  WriteLogLine(std::wstring(L"ERROR: Start with Windows: ") + call + L" failed (" + std::to_wstring(status) + L")");
  return false;
}

}  // namespace

std::wstring StartCommand() {
  std::vector<wchar_t> path(MAX_PATH);
  DWORD length;
  while ((length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()))) == path.size())
    path.resize(path.size() * 2);
  return L"\"" + std::wstring(path.data(), length) + L"\"";
}

bool ApplyStartWithWindows(bool on) {
  const std::wstring current = ReadRunValue();
  if (!on) {
    if (current.empty()) return true;
    const LSTATUS status = RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return LogRegistryFailure(L"RegDeleteKeyValueW", status);
    WriteLogLine(L"Start with Windows: off");
    return true;
  }
  const std::wstring command = StartCommand();
  if (current == command) return true;
  const LSTATUS status =
      RegSetKeyValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, REG_SZ, command.c_str(),
                      static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
  if (status != ERROR_SUCCESS) return LogRegistryFailure(L"RegSetKeyValueW", status);
  WriteLogLine(current.empty() ? L"Start with Windows: " + command
                               : L"Start with Windows: " + command + L" (was " + current + L")");
  return true;
}
