// The overlay window under Wine: click-through outside drag mode, and the
// Ctrl+Alt gesture that drags the member column within the screen and saves
// config.json beside the exe.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <vector>
#include <sstream>

#include "app/config.h"
#include "app/settings_store.h"
#include "app/log.h"
#include "overlay/overlay_window.h"
#include "overlay/renderer.h"
#include "tests/support/child_process.h"

namespace {

void PressKey(WORD key, bool down) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  SendInput(1, &input, sizeof(input));
}

class OverlayWindowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(RendererInitialize()); }
  static void TearDownTestSuite() { RendererShutdown(); }
  void SetUp() override {
    ASSERT_EQ(GetFileAttributesW(config.c_str()), INVALID_FILE_ATTRIBUTES) << "a config.json here would be overwritten";
    DeleteFileW((g_logPath = TestBinDirectory() + L"\\overlay_window_test.log").c_str());
  }
  void TearDown() override {
    DeleteFileW(config.c_str());
    g_logPath.clear();
  }
  std::string Saved() const {
    std::stringstream text;
    text << std::ifstream(config.c_str()).rdbuf();
    return text.str();
  }
  const std::wstring config = TestBinDirectory() + L"\\config.json";
};

// Holding Ctrl and Alt turns drag mode on, the column follows a drag within
// the screen, and letting go of Alt in the middle of it ends it there and saves.
TEST_F(OverlayWindowTest, CtrlAltHeldTurnsDragModeOnAndLettingGoEndsTheDrag) {
  OverlayWindow overlay(GetRenderer());
  ASSERT_TRUE(overlay.Create(GetModuleHandleW(nullptr)));
  EXPECT_EQ(SendMessageW(overlay.MemberWindow(), WM_NCHITTEST, 0, 0), HTTRANSPARENT);
  PressKey(VK_CONTROL, true);
  overlay.UpdateDragMode();
  EXPECT_FALSE(overlay.dragMode) << "Ctrl alone";
  PressKey(VK_MENU, true);
  overlay.UpdateDragMode();
  ASSERT_TRUE(overlay.dragMode);
  overlay.state.shown.resize(2);  // the second member's window, added in drag mode, takes the mouse too
  overlay.Render();
  ASSERT_EQ(overlay.panes.size(), kPaneKinds + 1);
  HWND second = overlay.panes.back().Hwnd();
  EXPECT_EQ(GetWindowLongPtrW(second, GWL_EXSTYLE) & WS_EX_TRANSPARENT, 0);
  EXPECT_EQ(GetWindowLongPtrW(overlay.MemberWindow(), GWL_EXSTYLE) & WS_EX_TRANSPARENT, 0);
  EXPECT_EQ(SendMessageW(overlay.MemberWindow(), WM_NCHITTEST, 0, 0), HTCLIENT);
  EXPECT_EQ(SendMessageW(overlay.MemberWindow(), WM_MOUSEACTIVATE, 0, 0), MA_NOACTIVATE);

  g_settings.Change([](Config& settings) { settings.avatar_size = 600; });  // the right bound: width - 600 - margin 20
  ASSERT_TRUE(SetCursorPos(500, 500));
  SendMessageW(overlay.MemberWindow(), WM_LBUTTONDOWN, 0, 0);  // column at 20, 20
  ASSERT_TRUE(overlay.dragging);
  struct Step { int cursorX, cursorY, columnX, columnY; };
  const Step steps[] = {{overlay.width - 1, 0, overlay.width - 620, 0}, {0, 510, 0, 30}, {540, 510, 60, 30}};
  for (const Step& s : steps) {
    ASSERT_TRUE(SetCursorPos(s.cursorX, s.cursorY));
    SendMessageW(overlay.MemberWindow(), WM_MOUSEMOVE, 0, 0);
    EXPECT_EQ(g_settings.Committed().overlay_x, s.columnX) << s.cursorX;
    EXPECT_EQ(g_settings.Committed().overlay_y, s.columnY) << s.cursorY;
  }
  EXPECT_EQ(Saved(), "") << "nothing is saved while dragging";
  PressKey(VK_MENU, false);
  overlay.UpdateDragMode();
  PressKey(VK_CONTROL, false);
  EXPECT_FALSE(overlay.dragging);
  EXPECT_NE(GetWindowLongPtrW(overlay.MemberWindow(), GWL_EXSTYLE) & WS_EX_TRANSPARENT, 0);
  EXPECT_NE(GetWindowLongPtrW(second, GWL_EXSTYLE) & WS_EX_TRANSPARENT, 0);
  EXPECT_NE(Saved().find("\"overlay_x\": 60,"), std::string::npos);
  EXPECT_EQ(ReadLogLines(g_logPath, "[Overlay] Saved overlay position: X=60 Y=30").size(), 1u);
  DeleteFileW(config.c_str());
  overlay.EndDrag();  // no drag running: nothing more is saved
  EXPECT_EQ(GetFileAttributesW(config.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace

// A configured monitor that is not there gives the primary one; a column
// placed on a bigger monitor is drawn inside this one, its setting kept; a
// display change that changes nothing moves nothing.
TEST_F(OverlayWindowTest, MissingMonitorGivesThePrimaryAndTheColumnStaysInside) {
  Config settings;
  settings.monitor = 3;
  settings.overlay_x = 5000;
  settings.overlay_y = 3000;
  g_settings.Replace(settings);
  OverlayWindow overlay(GetRenderer());
  ASSERT_TRUE(overlay.Create(GetModuleHandleW(nullptr)));
  EXPECT_EQ(overlay.width, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(overlay.height, GetSystemMetrics(SM_CYSCREEN));
  overlay.state.shown.resize(1);
  overlay.Render();
  RECT tile = {};
  ASSERT_TRUE(IsWindowVisible(overlay.MemberWindow()) && GetWindowRect(overlay.MemberWindow(), &tile));
  EXPECT_TRUE(tile.left >= 0 && tile.top >= 0 && tile.right <= overlay.width && tile.bottom <= overlay.height)
      << tile.left << "," << tile.top << " " << tile.right << "," << tile.bottom;
  EXPECT_EQ(g_settings.Committed().overlay_x, 5000);
  SendMessageW(overlay.MemberWindow(), WM_DISPLAYCHANGE, 32, MAKELPARAM(overlay.width, overlay.height));
  EXPECT_EQ(ReadLogLines(g_logPath, "[Overlay] Monitor 1: ").size(), 1u);
}

// Picture-in-picture ticked in the settings window but not yet saved is
// drawn from the draft, and so its searches and captures are scheduled from
// it too: the overlay at rest still wakes for the next one.
TEST_F(OverlayWindowTest, PictureInPictureOfTheDraftIsRefreshed) {
  g_settings.Replace(Config());
  OverlayWindow overlay(GetRenderer());
  ASSERT_TRUE(overlay.Create(GetModuleHandleW(nullptr)));
  overlay.Render();
  ASSERT_EQ(overlay.MsUntilPictureChanges(GetTickCount()), kNoChange) << "at rest without PiP";
  g_settings.BeginDraft([](const Config& draft, Config& onto) { onto.pip_enabled = draft.pip_enabled; });
  g_settings.EditDraft([](Config& draft) { draft.pip_enabled = true; });
  overlay.Render();
  EXPECT_LE(overlay.MsUntilPictureChanges(GetTickCount()), 2001u) << "the next search is not scheduled";
  g_settings.EndDraft();
}

// A change of the monitor's scale (WM_DPICHANGED: moved to another monitor,
// or the user chose another scale) lays the overlay out anew: the tile's
// window, with its name, grows by 1.5 from 96 to 144 DPI and shrinks back;
// config.json's values stay as they were.
TEST_F(OverlayWindowTest, ADpiChangeReLaysTheOverlay) {
  g_settings.Replace(Config());
  OverlayWindow overlay(GetRenderer());
  ASSERT_TRUE(overlay.Create(GetModuleHandleW(nullptr)));
  overlay.state.shown.resize(1);
  overlay.state.shown[0].displayName = L"Alice";
  struct Step { UINT dpi; SIZE tile; };
  std::vector<Step> steps = {{96, {}}, {144, {}}, {96, {}}};
  for (Step& step : steps) {
    RECT suggested = {0, 0, 100, 100};
    SendMessageW(overlay.MemberWindow(), 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(step.dpi, step.dpi),
                 reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(overlay.dpi, step.dpi);
    overlay.Render();
    RECT rect = {};
    ASSERT_TRUE(GetWindowRect(overlay.MemberWindow(), &rect));
    step.tile = {rect.right - rect.left, rect.bottom - rect.top};
    std::printf("%u DPI: tile window %ldx%ld at %ld,%ld\n", step.dpi, step.tile.cx, step.tile.cy, rect.left, rect.top);
  }
  EXPECT_NEAR(steps[1].tile.cx, 1.5 * steps[0].tile.cx, 3);
  EXPECT_NEAR(steps[1].tile.cy, 1.5 * steps[0].tile.cy, 3);
  EXPECT_EQ(steps[2].tile.cx, steps[0].tile.cx);
  EXPECT_EQ(steps[2].tile.cy, steps[0].tile.cy);
  EXPECT_EQ(FormatConfigText(g_settings.Committed()), FormatConfigText(Config()));
  EXPECT_EQ(ReadLogLines(g_logPath, "[Overlay] Display scale changed: 144 DPI").size(), 1u);
}
