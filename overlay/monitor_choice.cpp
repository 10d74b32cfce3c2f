#include "overlay/monitor_choice.h"

#include <algorithm>

int ChooseMonitor(const std::vector<DisplayMonitor>& monitors, int configured, const std::wstring& followed) {
  if (monitors.empty()) return -1;
  if (!followed.empty()) {
    auto same = std::find_if(monitors.begin(), monitors.end(), [&](const DisplayMonitor& m) { return m.device == followed; });
    if (same != monitors.end()) return static_cast<int>(same - monitors.begin());
  } else if (configured >= 0 && static_cast<size_t>(configured) < monitors.size()) {
    return configured;
  }
  auto primary = std::find_if(monitors.begin(), monitors.end(), [](const DisplayMonitor& m) { return m.primary; });
  return primary == monitors.end() ? 0 : static_cast<int>(primary - monitors.begin());
}

std::wstring MonitorLabel(const std::vector<DisplayMonitor>& monitors, int index, const std::wstring& primaryWord) {
  if (index < 0 || static_cast<size_t>(index) >= monitors.size()) return {};
  const DisplayMonitor& monitor = monitors[static_cast<size_t>(index)];
  std::wstring label = std::to_wstring(index + 1) + L": " + std::to_wstring(monitor.Width()) + L" x " +
                       std::to_wstring(monitor.Height());
  return monitor.primary ? label + L" (" + primaryWord + L")" : label;
}
