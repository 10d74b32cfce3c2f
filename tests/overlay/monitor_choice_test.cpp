#include "overlay/monitor_choice.h"

#include <gtest/gtest.h>

namespace {

const DisplayMonitor kLeft{-1920, 0, 0, 1080, false, L"\\\\.\\DISPLAY2"};
const DisplayMonitor kMain{0, 0, 2560, 1440, true, L"\\\\.\\DISPLAY1"};
const DisplayMonitor kTop{0, -1200, 1920, 0, false, L"\\\\.\\DISPLAY3"};

TEST(MonitorChoice, FollowsDisplayChanges) {
  DisplayMonitor mainMoved = kMain, leftPrimary = kLeft;
  mainMoved.primary = false;
  leftPrimary.primary = true;
  struct Case { const char* what; std::vector<DisplayMonitor> monitors; int configured; std::wstring followed; int chosen; };
  const Case cases[] = {
      {"configured number at start", {kMain, kLeft, kTop}, 1, L"", 1},
      {"configured number missing at start", {kLeft, kMain}, 5, L"", 1},
      {"negative number", {kLeft, kMain}, -1, L"", 1},
      {"followed one unplugged: primary", {kMain, kTop}, 1, kLeft.device, 0},
      {"followed one back, renumbered", {kTop, kMain, kLeft}, 1, kLeft.device, 2},
      {"primary moved while the followed one is away", {mainMoved, leftPrimary}, 2, kTop.device, 1},
      {"no primary marked", {mainMoved, kTop}, 7, L"", 0},
      {"no monitors", {}, 0, L"", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(ChooseMonitor(c.monitors, c.configured, c.followed), c.chosen) << c.what;
}

TEST(MonitorChoice, LabelsCountFromOne) {
  const std::vector<DisplayMonitor> monitors = {kLeft, kMain};
  EXPECT_EQ(MonitorLabel(monitors, 0, L"primary"), L"1: 1920 x 1080");
  EXPECT_EQ(MonitorLabel(monitors, 1, L"primary"), L"2: 2560 x 1440 (primary)");
  EXPECT_EQ(MonitorLabel(monitors, 2, L"primary"), L"");
}

}  // namespace
