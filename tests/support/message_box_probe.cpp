#include "tests/support/message_box_probe.h"

#include "tests/support/child_process.h"

namespace {

std::wstring WindowText(HWND window) {
  wchar_t text[1024] = {};
  return std::wstring(text, GetWindowTextW(window, text, 1024));
}

}  // namespace

MessageBoxProbe WaitForMessageBox(DWORD processId, DWORD timeoutMs) {
  MessageBoxProbe probe;
  WaitFor([&] {  // a visible dialog-class window of the process
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"#32770", nullptr));) {
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner == processId && IsWindowVisible(w)) return (probe.box = w) != nullptr;
    }
    return false;
  }, timeoutMs);
  if (!probe.box) return probe;
  probe.caption = WindowText(probe.box);
  // The message is the static control that holds text (the icon's has none).
  for (HWND c = nullptr; (c = FindWindowExW(probe.box, c, L"Static", nullptr));)
    if (!WindowText(c).empty()) probe.text = WindowText(c);
  return probe;
}

bool PressMessageBoxButton(HWND box, int buttonId) {
  HWND button = GetDlgItem(box, buttonId);
  return button && PostMessageW(button, BM_CLICK, 0, 0);
}
