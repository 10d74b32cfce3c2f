#include "tests/support/message_box_probe.h"

#include "tests/support/child_process.h"

namespace {

struct Search {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  if (owner != search->processId || !IsWindowVisible(window) || std::wstring(className) != L"#32770") return TRUE;
  search->found = window;
  return FALSE;
}

std::wstring WindowText(HWND window) {
  int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, &text[0], length + 1)));
  return text;
}

// The message is the box's static control that holds text (the icon is a
// static control too, without text).
BOOL CALLBACK CollectStaticText(HWND child, LPARAM param) {
  wchar_t className[16] = {};
  GetClassNameW(child, className, 16);
  std::wstring text = WindowText(child);
  if (_wcsicmp(className, L"Static") == 0 && !text.empty()) *reinterpret_cast<std::wstring*>(param) = text;
  return TRUE;
}

}  // namespace

MessageBoxProbe WaitForMessageBox(DWORD processId, DWORD timeoutMs) {
  MessageBoxProbe probe;
  WaitFor(
      [&] {
        Search search = {processId, nullptr};
        EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
        probe.box = search.found;
        return probe.box != nullptr;
      },
      timeoutMs);
  if (!probe.box) return probe;
  probe.caption = WindowText(probe.box);
  EnumChildWindows(probe.box, CollectStaticText, reinterpret_cast<LPARAM>(&probe.text));
  return probe;
}

bool PressMessageBoxButton(HWND box, int buttonId) {
  HWND button = GetDlgItem(box, buttonId);
  if (!button) return false;
  PostMessageW(button, BM_CLICK, 0, 0);
  return true;
}
