// Which monitor the overlay covers, chosen again whenever the displays change:
// the configured one while it exists, else the primary one, and back when the
// configured one returns. config.json numbers monitors in the system's
// enumeration order; once found, the monitor is followed by its device name,
// since unplugging one renumbers those after it.
#pragma once

#include <string>
#include <vector>

struct DisplayMonitor {
  int left = 0, top = 0, right = 0, bottom = 0;  // whole monitor, virtual-screen pixels
  bool primary = false;
  std::wstring device;  // "\\.\DISPLAY2"
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
};

// Index into monitors: the one named `followed` when that is set and
// present, else the configured number when nothing is followed yet, else the
// primary (the first one when none is marked); -1 when the list is empty.
int ChooseMonitor(const std::vector<DisplayMonitor>& monitors, int configured, const std::wstring& followed);

// "2: 2560 x 1440 (primary)", numbered from 1 as users count; the settings
// window's drop-down lists these. primaryWord is the UI language's "primary".
std::wstring MonitorLabel(const std::vector<DisplayMonitor>& monitors, int index, const std::wstring& primaryWord);
