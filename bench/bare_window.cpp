// bare_window: the start-up floor the benchmark sets Voxmere.exe's start
// against. It registers a window class, creates a window of it, lets the
// window's creation messages through and writes one line to debug.log beside
// itself, as Voxmere.exe marks the end of its first work pass; then it exits.
// It links only what any windowed program needs (kernel32, user32).
#include <windows.h>

namespace {

constexpr char kDoneLine[] = "Bare window created\r\n";

LRESULT CALLBACK BareWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

// debug.log in the folder of the executable, opened for appending and closed
// again, as Voxmere.exe's log is line by line.
bool WriteDoneLine() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  while (length > 0 && path[length - 1] != L'\\') --length;
  if (length == 0 || length + 10 > MAX_PATH) return false;
  lstrcpyW(path + length, L"debug.log");
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool wrote = WriteFile(file, kDoneLine, sizeof kDoneLine - 1, &written, nullptr) != FALSE;
  CloseHandle(file);
  return wrote;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = BareWindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = L"VoxmereBenchBareWindow";
  if (!RegisterClassExW(&wc)) return 1;
  HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, wc.lpszClassName, L"", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                instance, nullptr);
  if (!window) return 1;
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  const bool signalled = WriteDoneLine();
  DestroyWindow(window);
  return signalled ? 0 : 1;
}
