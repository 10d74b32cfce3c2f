// The display scale as Windows reports it to a per-monitor aware program
// (the manifest declares it): a monitor's or a window's DPI, 96 at 100 %.
// The calls of Windows 8.1 and 10 are looked up at run time; without them
// the system DPI stands for every monitor.
#pragma once

#include <windows.h>

constexpr UINT kBaseDpi = 96;

UINT MonitorDpi(HMONITOR monitor);
UINT WindowDpi(HWND window);
// The system's message font (dialogs use it) at that DPI; the caller
// deletes it. Null when none could be made.
HFONT CreateMessageFont(UINT dpi);
