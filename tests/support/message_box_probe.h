// Test support: finds a message box that a process shows, reads it and
// presses one of its buttons, as a user would.
#pragma once

#include <windows.h>

#include <string>

struct MessageBoxProbe {
  HWND box = nullptr;
  std::wstring caption;
  std::wstring text;
};

// Waits up to timeoutMs for a visible dialog-class window of the process.
MessageBoxProbe WaitForMessageBox(DWORD processId, DWORD timeoutMs);

// Clicks the button with the id (IDOK, IDYES, IDNO...); false when the box
// has no such button.
bool PressMessageBoxButton(HWND box, int buttonId);
