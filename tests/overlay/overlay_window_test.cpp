// The overlay window under Wine: its styles and rectangle, the window
// procedure's answers in and out of drag mode, and a drag that moves the
// member column within its bounds and saves config.json beside the exe.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "app/config.h"
#include "app/log.h"
#include "overlay/overlay_window.h"

namespace {

std::wstring ExeDirectory() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, n);
  return dir.substr(0, dir.find_last_of(L"\\/"));
}

std::string ReadFile(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class OverlayWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    g_config = Config();
    config_ = ExeDirectory() + L"\\config.json";
    hadConfig_ = GetFileAttributesW(config_.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (hadConfig_) savedConfig_ = ReadFile(config_);
    log_ = ExeDirectory() + L"\\overlay_window_test.log";
    DeleteFileW(log_.c_str());
    g_logPath = log_;
  }
  void TearDown() override {
    g_logPath.clear();
    DeleteFileW(log_.c_str());
    if (hadConfig_)
      std::ofstream(config_.c_str(), std::ios::binary) << savedConfig_;
    else
      DeleteFileW(config_.c_str());
  }

  std::wstring config_, log_;
  bool hadConfig_ = false;
  std::string savedConfig_;
};

TEST_F(OverlayWindowTest, LayeredClickThroughPopupOverTheChosenMonitor) {
  for (int monitor : {0, 5, -1}) {
    g_config.monitor = monitor;
    OverlayWindow overlay;
    ASSERT_TRUE(overlay.Create(GetModuleHandleW(nullptr))) << monitor;
    SCOPED_TRACE(monitor);
    EXPECT_EQ(GetWindowLongPtrW(overlay.hwnd, GWL_EXSTYLE) & 0x080800A8, 0x080800A8);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrW(overlay.hwnd, GWL_STYLE)) & ~WS_VISIBLE & ~WS_CLIPSIBLINGS,
              static_cast<DWORD>(WS_POPUP));
    wchar_t className[64] = {}, title[64] = {};
    GetClassNameW(overlay.hwnd, className, 64);
    GetWindowTextW(overlay.hwnd, title, 64);
    EXPECT_STREQ(className, L"VoxmereClass");
    EXPECT_STREQ(title, L"Voxmere");
    EXPECT_TRUE(overlay.visible);
    EXPECT_TRUE(IsWindowVisible(overlay.hwnd));
    // The primary monitor is enumerated first on a one-monitor system; a
    // missing one falls back to the primary screen at (0, 0).
    EXPECT_EQ(overlay.x, 0);
    EXPECT_EQ(overlay.y, 0);
    EXPECT_EQ(overlay.width, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(overlay.height, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(g_wndProcOverlay, &overlay);

    // Only one overlay class per process.
    OverlayWindow second;
    EXPECT_FALSE(second.Create(GetModuleHandleW(nullptr)));
    EXPECT_EQ(second.hwnd, nullptr);
  }
}

TEST_F(OverlayWindowTest, MouseOnlyInDragModeAndNeverActivates) {
  OverlayWindow overlay;
  ASSERT_TRUE(overlay.Create(GetModuleHandleW(nullptr)));
  EXPECT_EQ(SendMessageW(overlay.hwnd, WM_NCHITTEST, 0, 0), HTTRANSPARENT);
  EXPECT_EQ(SendMessageW(overlay.hwnd, WM_MOUSEACTIVATE, 0, 0), MA_NOACTIVATE);
  SendMessageW(overlay.hwnd, WM_LBUTTONDOWN, 0, 0);
  EXPECT_FALSE(overlay.dragging);

  overlay.dragMode = true;
  EXPECT_EQ(SendMessageW(overlay.hwnd, WM_NCHITTEST, 0, 0), HTCLIENT);
  EXPECT_EQ(SendMessageW(overlay.hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(overlay.hwnd), HTCLIENT), 1);
  EXPECT_EQ(SendMessageW(overlay.hwnd, WM_MOUSEACTIVATE, 0, 0), MA_NOACTIVATE);

  overlay.Toggle();
  EXPECT_FALSE(overlay.visible);
  overlay.Toggle();
  EXPECT_TRUE(overlay.visible);
  EXPECT_TRUE(IsWindowVisible(overlay.hwnd));
}

TEST_F(OverlayWindowTest, DragMovesTheColumnWithinBoundsAndSaves) {
  OverlayWindow overlay;
  ASSERT_TRUE(overlay.Create(GetModuleHandleW(nullptr)));
  overlay.dragMode = true;
  g_config.overlay_x = 20;
  g_config.overlay_y = 20;
  auto moveTo = [&](int x, int y) {
    ASSERT_TRUE(SetCursorPos(x, y));
    POINT at;
    GetCursorPos(&at);
    ASSERT_EQ(at.x, x);
    ASSERT_EQ(at.y, y);
    SendMessageW(overlay.hwnd, WM_MOUSEMOVE, 0, 0);
  };
  ASSERT_TRUE(SetCursorPos(500, 500));
  SendMessageW(overlay.hwnd, WM_LBUTTONDOWN, 0, 0);
  ASSERT_TRUE(overlay.dragging);
  moveTo(600, 530);
  EXPECT_EQ(g_config.overlay_x, 120);
  EXPECT_EQ(g_config.overlay_y, 50);
  moveTo(overlay.width - 1, 0);  // far right, far up
  EXPECT_EQ(g_config.overlay_x, std::min(20 + overlay.width - 1 - 500, overlay.width - 48 - 20));
  EXPECT_EQ(g_config.overlay_y, 0);
  moveTo(0, 510);
  EXPECT_EQ(g_config.overlay_x, 0);
  EXPECT_EQ(g_config.overlay_y, 30);
  EXPECT_EQ(GetFileAttributesW(config_.c_str()), INVALID_FILE_ATTRIBUTES) << "nothing saved while dragging";

  SendMessageW(overlay.hwnd, WM_LBUTTONUP, 0, 0);
  EXPECT_FALSE(overlay.dragging);
  std::string saved = ReadFile(config_);
  EXPECT_NE(saved.find("\"overlay_x\": 0"), std::string::npos) << saved;
  EXPECT_NE(saved.find("\"overlay_y\": 30"), std::string::npos) << saved;
  EXPECT_NE(ReadFile(log_).find("[Overlay] Saved overlay position: X=0 Y=30"), std::string::npos);

  // Leaving drag mode without a drag saves nothing more.
  DeleteFileW(config_.c_str());
  overlay.EndDrag();
  EXPECT_EQ(GetFileAttributesW(config_.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
