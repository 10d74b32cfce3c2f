// "Start with Windows": a value named Voxmere under the user's
// HKCU\Software\Microsoft\Windows\CurrentVersion\Run holding the quoted path
// of the running executable, so no administrator rights are needed.
#pragma once

#include <string>

constexpr wchar_t kRunKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRunValueName[] = L"Voxmere";

// What the value holds while the option is on: this executable, quoted.
std::wstring StartCommand();
// Brings the value in line with the option: written (or corrected, when the
// folder was moved) while on, removed while off. False, with a log line,
// when the registry refused.
bool ApplyStartWithWindows(bool on);
