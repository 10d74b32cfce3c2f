// Picture-in-picture against real windows of this process: each test window
// paints four known quadrant colours (through WM_PRINT, as PrintWindow asks)
// and carries the class and title its case needs. Drawn into the renderer's
// frame and checked by pixel probes; the capture's clock is stepped by hand.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "app/config.h"
#include "overlay/overlay_window.h"
#include "overlay/pip_capture.h"
#include "overlay/renderer.h"
#include "tests/overlay/pixel_probe.h"

namespace {

constexpr int kFrameW = 640;
constexpr int kFrameH = 400;
const wchar_t kChromeClass[] = L"Chrome_WidgetWin_1";
const wchar_t kOtherClass[] = L"VoxmerePipProbeClass";

// Quadrant colours (RGB), each strong on a different channel mix.
constexpr uint32_t kTopLeft = 0xE02828;
constexpr uint32_t kTopRight = 0x28E028;
constexpr uint32_t kBottomLeft = 0x2828E0;
constexpr uint32_t kBottomRight = 0xE0E028;
constexpr uint32_t kRepainted = 0x28E0E0;
constexpr uint32_t kFrameFill = 0x202225;
constexpr uint32_t kOutline = 0x5865F2;

COLORREF ToColorRef(uint32_t rgb) { return RGB((rgb >> 16) & 255, (rgb >> 8) & 255, rgb & 255); }

// What a test window paints; one colour everywhere once repainted.
struct Paint {
  uint32_t quadrants[4] = {kTopLeft, kTopRight, kBottomLeft, kBottomRight};
};

void Fill(HDC dc, int left, int top, int right, int bottom, uint32_t rgb) {
  RECT box = {left, top, right, bottom};
  HBRUSH brush = CreateSolidBrush(ToColorRef(rgb));
  FillRect(dc, &box, brush);
  DeleteObject(brush);
}

void PaintWindow(HWND window, HDC dc) {
  auto* paint = reinterpret_cast<Paint*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!paint) return;
  RECT client;
  GetClientRect(window, &client);
  int w = client.right, h = client.bottom;
  Fill(dc, 0, 0, w / 2, h / 2, paint->quadrants[0]);
  Fill(dc, w / 2, 0, w, h / 2, paint->quadrants[1]);
  Fill(dc, 0, h / 2, w / 2, h, paint->quadrants[2]);
  Fill(dc, w / 2, h / 2, w, h, paint->quadrants[3]);
}

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
    case WM_PRINTCLIENT:
      PaintWindow(window, reinterpret_cast<HDC>(wParam));
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      PaintWindow(window, dc);
      EndPaint(window, &ps);
      return 0;
    }
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

// A top-level test window; destroyed with the object unless closed before.
struct TestWindow {
  Paint paint;
  HWND hwnd = nullptr;

  TestWindow(const wchar_t* className, const wchar_t* title, bool visible = true, int w = 160, int h = 120) {
    hwnd = CreateWindowExW(0, className, title, WS_POPUP, 700, 100, w, h, nullptr, nullptr, GetModuleHandleW(nullptr),
                           nullptr);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&paint));
    // Never activated: without a window manager Wine waits 2 s whenever an
    // active window is hidden or destroyed.
    if (visible) ShowWindow(hwnd, SW_SHOWNA);
  }
  ~TestWindow() { Close(); }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;
  void Close() {
    if (hwnd) DestroyWindow(hwnd);
    hwnd = nullptr;
  }
};

void RegisterTestClass(const wchar_t* name) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = TestWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = name;
  RegisterClassW(&wc);
}

class PipTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(RendererInitialize());
    RegisterTestClass(kChromeClass);
    RegisterTestClass(kOtherClass);
  }
  static void TearDownTestSuite() { RendererShutdown(); }

  void SetUp() override {
    g_config = Config();
    pip_.tick = [this] { return now_; };
    NewFrame();
  }

  static void NewFrame() {
    GetRenderer().BeginFrame(kFrameW, kFrameH);
    ASSERT_NE(GetRenderer().framePixels, nullptr);
  }

  // One frame at the configured place and the given tick.
  void DrawAt(uint32_t now, const std::wstring& filter = L"") {
    now_ = now;
    NewFrame();
    pip_.Draw(GetRenderer().frameDc, g_config.pip_x, g_config.pip_y, g_config.pip_width, g_config.pip_height,
              g_config.pip_opacity, filter);
  }

  static Pixel At(int x, int y) { return FrameAt(x, y); }

  // A picture pixel of the given source colour at 90 percent over the frame's fill.
  static Pixel Mirrored(uint32_t rgb) { return Over(Premul(229, rgb), Premul(180, kFrameFill)); }
  static Pixel Centre() { return At(50 + 160, 50 + 90); }
  static bool PictureShown() { return Near(At(50 + 80, 50 + 45), Mirrored(kTopLeft), 12); }
  static bool NothingDrawn() {
    for (int y = 40; y < 240; y += 3)
      for (int x = 40; x < 380; x += 3)
        if (At(x, y).a != 0) return false;
    return true;
  }

  PipCapture pip_;
  uint32_t now_ = 1000;
};

TEST_F(PipTest, ScreenShareWindowMirroredInItsFrame) {
  TestWindow share(kChromeClass, L"Screen Share");
  DrawAt(1000);
  EXPECT_EQ(pip_.pipWindow, share.hwnd);
  EXPECT_EQ(pip_.capturedWidth, 160);
  EXPECT_EQ(pip_.capturedHeight, 120);

  // The 4:3 source is stretched over 320 x 180 at (50, 50): each quadrant
  // fills a quarter of the picture.
  EXPECT_TRUE(Near(At(50 + 80, 50 + 45), Mirrored(kTopLeft))) << "top left";
  EXPECT_TRUE(Near(At(50 + 240, 50 + 45), Mirrored(kTopRight))) << "top right";
  EXPECT_TRUE(Near(At(50 + 80, 50 + 135), Mirrored(kBottomLeft))) << "bottom left";
  EXPECT_TRUE(Near(At(50 + 240, 50 + 135), Mirrored(kBottomRight))) << "bottom right";
  EXPECT_TRUE(Near(At(52, 52), Mirrored(kTopLeft), 12)) << "picture starts at (50, 50)";
  EXPECT_TRUE(Near(At(367, 227), Mirrored(kBottomRight), 12)) << "picture ends at (370, 230)";

  // The frame: 3 pixels of dark fill around the picture, the outline pen on
  // its edge, nothing beyond.
  Pixel outline = Premul(162, kOutline);
  Pixel fill = Premul(180, kFrameFill);
  EXPECT_TRUE(Near(At(48, 140), fill, 6)) << "fill, left";
  EXPECT_TRUE(Near(At(210, 231), fill, 6)) << "fill, below";
  EXPECT_TRUE(Near(At(46, 140), outline, 8)) << "outline, left";
  EXPECT_TRUE(Near(At(373, 140), outline, 8)) << "outline, right";
  EXPECT_TRUE(Near(At(210, 46), outline, 8)) << "outline, top";
  EXPECT_TRUE(Near(At(210, 233), outline, 8)) << "outline, bottom";
  EXPECT_EQ(At(43, 140).a, 0);
  EXPECT_EQ(At(210, 43).a, 0);
  EXPECT_EQ(At(377, 140).a, 0);
  EXPECT_EQ(At(210, 237).a, 0);
}

TEST_F(PipTest, PicksOnlyShownDiscordScreenShareWindowsOrTheConfiguredTitle) {
  struct Case {
    const wchar_t* className;
    const wchar_t* title;
    int show;  // SW_SHOWNA, SW_HIDE or SW_MINIMIZE
    const wchar_t* filter;
    bool picked;
  };
  const Case cases[] = {
      {kChromeClass, L"Go Live - Voxmere Test", SW_SHOWNA, L"", true},
      {kChromeClass, L"\u753B\u9762\u5171\u6709", SW_SHOWNA, L"", true},
      {kChromeClass, L"screen share", SW_SHOWNA, L"", false},
      {kChromeClass, L"Discord", SW_SHOWNA, L"", false},
      {kOtherClass, L"Screen Share", SW_SHOWNA, L"", false},
      {kChromeClass, L"Screen Share", SW_HIDE, L"", false},
      {kChromeClass, L"Screen Share", SW_MINIMIZE, L"", false},
      // A filter replaces the built-in rule (a "Screen Share" window is up too) and is case-sensitive.
      {kOtherClass, L"Voxmere PiP Probe view", SW_SHOWNA, L"PiP Probe", true},
      {kOtherClass, L"Voxmere PiP Probe view", SW_SHOWNA, L"pip probe", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    std::unique_ptr<TestWindow> share;
    if (*c.filter) share = std::make_unique<TestWindow>(kChromeClass, L"Screen Share");
    TestWindow window(c.className, c.title, c.show != SW_HIDE);
    if (c.show == SW_MINIMIZE) {
      ShowWindow(window.hwnd, SW_MINIMIZE);
      ASSERT_TRUE(IsIconic(window.hwnd));
    }
    PipCapture fresh;
    NewFrame();
    fresh.Draw(GetRenderer().frameDc, 50, 50, 320, 180, 0.9f, c.filter);
    EXPECT_EQ(fresh.pipWindow, c.picked ? window.hwnd : nullptr);
    EXPECT_EQ(PictureShown(), c.picked);
    EXPECT_TRUE(c.picked || NothingDrawn()) << "no frame without a window";
  }
}

TEST_F(PipTest, ClosingTheWindowRemovesThePictureAtTheNextFrame) {
  TestWindow share(kChromeClass, L"Screen Share");
  DrawAt(1000);
  ASSERT_TRUE(PictureShown());
  share.Close();
  DrawAt(1033);  // long before the next periodic search
  EXPECT_EQ(pip_.pipWindow, nullptr);
  EXPECT_TRUE(NothingDrawn());
}

TEST_F(PipTest, CaptureEveryHundredMillisecondsSearchEveryTwoSeconds) {
  TestWindow first(kChromeClass, L"Screen Share");
  DrawAt(1000);
  ASSERT_EQ(pip_.pipWindow, first.hwnd);
  ASSERT_TRUE(Near(Centre(), Mirrored(kBottomRight)));

  // The window changes; the last capture is drawn until it is over 100 ms old.
  for (uint32_t& q : first.paint.quadrants) q = kRepainted;
  DrawAt(1100);
  EXPECT_TRUE(Near(Centre(), Mirrored(kBottomRight))) << "capture reused at 100 ms";
  DrawAt(1101);
  EXPECT_TRUE(Near(Centre(), Mirrored(kRepainted))) << "captured again after 100 ms";

  // A picked window that turns invisible stays mirrored until the next search.
  ShowWindow(first.hwnd, SW_HIDE);
  TestWindow second(kChromeClass, L"Go Live");
  DrawAt(3000);
  EXPECT_EQ(pip_.pipWindow, first.hwnd) << "no search at exactly 2000 ms";
  DrawAt(3001);
  EXPECT_EQ(pip_.pipWindow, second.hwnd);
  EXPECT_TRUE(Near(Centre(), Mirrored(kBottomRight)));
}

// Through the overlay's own frame: with pip_enabled off nothing is searched,
// captured or drawn; switched on, the next frame shows the window.
TEST_F(PipTest, NothingHappensWhilePipIsDisabled) {
  TestWindow share(kChromeClass, L"Screen Share");
  OverlayWindow overlay;
  ASSERT_TRUE(overlay.Create(GetModuleHandleW(nullptr)));
  Renderer& renderer = GetRenderer();
  renderer.pip.Release();
  renderer.pip.pipWindow = nullptr;
  renderer.pip.lastSearchTick = 0;

  g_config.pip_enabled = false;
  overlay.Render();
  EXPECT_EQ(renderer.pip.pipWindow, nullptr);
  EXPECT_EQ(renderer.pip.lastSearchTick, 0u);
  EXPECT_EQ(renderer.pip.pipBitmap, nullptr);
  EXPECT_EQ(FrameAt(210, 140).a, 0);

  g_config.pip_enabled = true;
  overlay.Render();
  EXPECT_EQ(renderer.pip.pipWindow, share.hwnd);
  EXPECT_NE(renderer.pip.pipBitmap, nullptr);
  EXPECT_GT(FrameAt(210, 140).a, 200);
}

}  // namespace
