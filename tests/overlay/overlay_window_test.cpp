// The overlay window under Wine: styles and rectangle, the window
// procedure's answers in and out of drag mode, and a drag that moves the
// member column within bounds and saves config.json beside the exe.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/config.h"
#include "app/log.h"
#include "overlay/overlay_window.h"
#include "tests/support/child_process.h"

namespace {

std::string Read(const std::wstring& path) {
  std::stringstream text;
  text << std::ifstream(path.c_str(), std::ios::binary).rdbuf();
  return text.str();
}
bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class OverlayWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    g_config = Config();
    ASSERT_FALSE(Exists(config_)) << "a config.json beside the test would be overwritten";
    g_logPath = log_;
  }
  void TearDown() override {
    g_logPath.clear();
    DeleteFileW(log_.c_str());
    DeleteFileW(config_.c_str());
  }
  const std::wstring config_ = TestBinDirectory() + L"\\config.json";
  const std::wstring log_ = TestBinDirectory() + L"\\overlay_window_test.log";
};

TEST_F(OverlayWindowTest, ClickThroughPopupOverTheMonitorOnlyInDragModeTakingTheMouse) {
  g_config.monitor = 5;  // absent: the primary screen at (0, 0)
  OverlayWindow overlay;
  ASSERT_TRUE(overlay.Create(GetModuleHandleW(nullptr)));
  EXPECT_EQ(GetWindowLongPtrW(overlay.hwnd, GWL_EXSTYLE) & 0x080800A8, 0x080800A8);
  EXPECT_TRUE(IsWindowVisible(overlay.hwnd));
  RECT expected = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  EXPECT_EQ(overlay.x + overlay.y, 0);
  EXPECT_EQ(overlay.width, expected.right);
  EXPECT_EQ(overlay.height, expected.bottom);
  OverlayWindow second;  // one class per process
  EXPECT_FALSE(second.Create(GetModuleHandleW(nullptr)));

  EXPECT_EQ(SendMessageW(overlay.hwnd, WM_NCHITTEST, 0, 0), HTTRANSPARENT);
  SendMessageW(overlay.hwnd, WM_LBUTTONDOWN, 0, 0);
  EXPECT_FALSE(overlay.dragging);
  overlay.dragMode = true;
  EXPECT_EQ(SendMessageW(overlay.hwnd, WM_NCHITTEST, 0, 0), HTCLIENT);
  EXPECT_EQ(SendMessageW(overlay.hwnd, WM_MOUSEACTIVATE, 0, 0), MA_NOACTIVATE);
  overlay.Toggle();
  overlay.Toggle();
  EXPECT_TRUE(overlay.visible && IsWindowVisible(overlay.hwnd));
}

void PressKeys(std::initializer_list<WORD> keys, bool down) {
  for (WORD key : keys) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof(input));
  }
}

// The gesture as the user makes it: holding Ctrl and Alt turns drag mode on,
// the column follows a drag within the screen, and letting go of Alt in the
// middle of it ends it there and saves.
TEST_F(OverlayWindowTest, CtrlAltHeldTurnsDragModeOnAndLettingGoEndsTheDrag) {
  OverlayWindow overlay;
  ASSERT_TRUE(overlay.Create(GetModuleHandleW(nullptr)));
  overlay.UpdateDragMode();
  ASSERT_FALSE(overlay.dragMode);
  PressKeys({VK_CONTROL}, true);
  overlay.UpdateDragMode();
  EXPECT_FALSE(overlay.dragMode) << "Ctrl alone";
  PressKeys({VK_MENU}, true);
  overlay.UpdateDragMode();
  EXPECT_TRUE(overlay.dragMode);
  EXPECT_EQ(GetWindowLongPtrW(overlay.hwnd, GWL_EXSTYLE) & WS_EX_TRANSPARENT, 0);

  // The column follows the cursor within the screen; nothing is saved while dragging.
  g_config.avatar_size = 600;  // the right bound: width - 600 - margin 20
  ASSERT_TRUE(SetCursorPos(500, 500));
  SendMessageW(overlay.hwnd, WM_LBUTTONDOWN, 0, 0);  // column at 20, 20
  ASSERT_TRUE(overlay.dragging);
  struct Step {
    int cursorX, cursorY, columnX, columnY;
  };
  const Step steps[] = {{overlay.width - 1, 0, overlay.width - 620, 0}, {0, 510, 0, 30}, {540, 510, 60, 30}};
  for (const Step& s : steps) {
    ASSERT_TRUE(SetCursorPos(s.cursorX, s.cursorY));
    SendMessageW(overlay.hwnd, WM_MOUSEMOVE, 0, 0);
    EXPECT_EQ(g_config.overlay_x, s.columnX) << s.cursorX;
    EXPECT_EQ(g_config.overlay_y, s.columnY) << s.cursorY;
  }
  EXPECT_FALSE(Exists(config_));
  PressKeys({VK_MENU}, false);
  overlay.UpdateDragMode();
  PressKeys({VK_CONTROL}, false);
  EXPECT_FALSE(overlay.dragMode);
  EXPECT_FALSE(overlay.dragging);
  EXPECT_NE(GetWindowLongPtrW(overlay.hwnd, GWL_EXSTYLE) & WS_EX_TRANSPARENT, 0);
  EXPECT_NE(Read(config_).find("\"overlay_x\": 60,"), std::string::npos);
  EXPECT_NE(Read(log_).find("[Overlay] Saved overlay position: X=60 Y=30"), std::string::npos);
  DeleteFileW(config_.c_str());
  overlay.EndDrag();  // no drag running: nothing more is saved
  EXPECT_FALSE(Exists(config_));
}

}  // namespace
