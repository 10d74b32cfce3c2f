// Notification cards drawn into the renderer's frame, checked by pixel probes
// at places the card geometry fixes (not whole-image comparisons: text
// anti-aliasing differs between GDI+ builds). Avatars come from a loopback CDN.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/config.h"
#include "app/log.h"
#include "overlay/notification_card.h"
#include "overlay/renderer.h"
#include "tools/loopback_http/loopback_http_server.h"
#include "tools/loopback_http/test_png.h"
#include "tests/overlay/pixel_probe.h"
#include "tests/support/child_process.h"

namespace {

constexpr int kW = 1920;
constexpr int kH = 1080;
constexpr uint32_t kBody = 0x2F3136;
constexpr uint32_t kAccent = 0x5865F2;
constexpr uint32_t kAvatarRed = 0xFF0000;
const Pixel kClear = {0, 0, 0, 0};

OverlayNotification Card(const wchar_t* name, const wchar_t* content = L"hello") {
  OverlayNotification card;
  card.displayName = name;
  card.content = content;
  card.alpha = 1.0f;
  card.slideIn = 1.0f;
  return card;
}

std::wstring TempPath(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + name + std::to_wstring(GetCurrentProcessId()) + L".log";
}

class CardTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    g_logPath = TempPath(L"voxmere-cards-");
    DeleteFileW(g_logPath.c_str());
    ASSERT_TRUE(RendererInitialize());
    cdn_ = new LoopbackHttpServer;
    cdn_->Route("GET", "/avatars/*", [](const LoopbackHttpRequest&) {
      LoopbackHttpResponse response;
      response.contentType = "image/png";
      response.body = MakeSolidPng(64, 64, 0xFF000000 | kAvatarRed);
      return response;
    });
    ASSERT_TRUE(cdn_->Start());
    _putenv_s("VOXMERE_CDN_BASE", cdn_->BaseUrl().c_str());
  }
  static void TearDownTestSuite() {
    RendererShutdown();
    delete cdn_;
    cdn_ = nullptr;
    DeleteFileW(g_logPath.c_str());
    g_logPath.clear();
  }

  void SetUp() override {
    g_config = Config();
    NewFrame();
  }

  static void NewFrame() {
    GetRenderer().BeginFrame(kW, kH);
    ASSERT_NE(GetRenderer().framePixels, nullptr);
  }

  static void DrawCards(const std::vector<OverlayNotification>& cards) {
    DrawNotificationCards(GetRenderer().frameDc, kW, kH, cards);
  }

  static void DrawOne(int slotY, const std::wstring& content, const std::wstring& channelLine, float alpha,
                      float slideIn, const std::wstring& userId = L"", const std::wstring& hash = L"") {
    DrawNotificationEx(GetRenderer().frameDc, slotY, kW, L"alice", content, channelLine, userId, hash, alpha, slideIn);
  }

  static Pixel At(int x, int y) { return FrameAt(x, y); }

  static int Count(int x0, int y0, int x1, int y1, const std::function<bool(const Pixel&)>& test) {
    int n = 0;
    for (int y = std::max(y0, 0); y < std::min(y1, kH); ++y)
      for (int x = std::max(x0, 0); x < std::min(x1, kW); ++x) n += test(At(x, y)) ? 1 : 0;
    return n;
  }
  static int CountDrawn(int x0, int y0, int x1, int y1) {
    return Count(x0, y0, x1, y1, [](const Pixel& p) { return p.a > 0; });
  }
  // Pixels where something (text) was drawn over the plain body (which lies
  // over its shadow there).
  static int CountMarked(int x0, int y0, int x1, int y1) {
    Pixel body = Over(Premul(230, kBody), Premul(80, 0));
    return Count(x0, y0, x1, y1, [&](const Pixel& p) { return !Near(p, body, 6); });
  }

  // The probes that show a whole card at rest with its top-left corner at
  // (x, y), fs 12 (96 high), placeholder avatar.
  static void ExpectCardAt(int x, int y, float alpha = 1.0f) {
    auto a = [&](int full) { return static_cast<int>(full * alpha); };
    Pixel shadow = Premul(a(80), 0);
    Pixel body = Premul(a(230), kBody);
    EXPECT_TRUE(Near(At(x + 200, y + 2), body)) << "body, above the shadow";
    EXPECT_TRUE(Near(At(x + 200, y + 90), Over(body, shadow))) << "body over its shadow";
    EXPECT_TRUE(Near(At(x + 382, y + 48), shadow)) << "shadow, right of the card";
    EXPECT_TRUE(Near(At(x + 200, y + 98), shadow)) << "shadow, below the card";
    EXPECT_TRUE(Near(At(x + 2, y + 48), Over(Premul(a(255), kAccent), body))) << "accent strip";
    EXPECT_TRUE(Near(At(x + 22, y + 48), Over(Premul(a(200), kAccent), Over(body, shadow)))) << "avatar disc";
    EXPECT_TRUE(Near(At(x - 2, y + 48), kClear)) << "left of the card";
    EXPECT_TRUE(Near(At(x + 200, y - 2), kClear)) << "above the card";
    EXPECT_TRUE(Near(At(x + 386, y + 48), kClear)) << "right of the shadow";
  }

  static LoopbackHttpServer* cdn_;
};

LoopbackHttpServer* CardTest::cdn_ = nullptr;

// First in this file: the log counts draws from the start of the process.
TEST_F(CardTest, OnlyTheFirstFiveDrawsAreLogged) {
  for (int i = 0; i < 7; ++i) DrawOne(20, L"x", L"", 1.0f - i * 0.125f, i * 0.25f);
  const std::vector<std::string> lines = ReadLogLines(g_logPath, "[NotifRender] ");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "[NotifRender] DrawNotificationEx: screenWidth=1920 alpha=1.000000 slideIn=0.000000");
  EXPECT_EQ(lines[4], "[NotifRender] DrawNotificationEx: screenWidth=1920 alpha=0.500000 slideIn=1.000000");
}

TEST_F(CardTest, SixPositionsAtRestAndStacked) {
  struct Case {
    int position;
    int x;
    int firstY;
    int secondY;
  };
  const Case cases[] = {
      {0, 1520, 20, 126}, {1, 20, 20, 126}, {2, 1520, 954, 848},
      {3, 20, 954, 848},  {4, 770, 20, 126}, {5, 770, 954, 848},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "position " << c.position);
    g_config.notification_position = c.position;
    NewFrame();
    DrawCards({Card(L"older"), Card(L"newer")});
    ExpectCardAt(c.x, c.firstY);
    ExpectCardAt(c.x, c.secondY);
    // The gap between the two slots stays clear (shadow reaches 4 below).
    int gapTop = std::min(c.firstY, c.secondY) + 96 + 4;
    EXPECT_EQ(CountDrawn(c.x, gapTop, c.x + 390, gapTop + 6), 0);
  }
}

TEST_F(CardTest, FadingCardDrawsEverythingAtItsAlpha) {
  g_config.notification_position = 1;
  DrawOne(20, L"x", L"", 0.5f, 1.0f);
  ExpectCardAt(20, 20, 0.5f);

  // The avatar image too: wait for the loopback download, then draw at 0.5.
  ASSERT_TRUE(WaitFor(
      [] {
        NewFrame();
        DrawOne(20, L"x", L"", 1.0f, 1.0f, L"42", L"abc");
        return Near(At(20 + 16 + 24, 20 + 48), Premul(255, kAvatarRed));
      },
      10000));
  NewFrame();
  DrawOne(20, L"x", L"", 0.5f, 1.0f, L"42", L"abc");
  Pixel under = Over(Premul(115, kBody), Premul(40, 0));
  EXPECT_TRUE(Near(At(20 + 16 + 24, 20 + 48), Over(Premul(127, kAvatarRed), under)));
  // The image is clipped to the circle: its square's corner shows the body.
  EXPECT_TRUE(Near(At(20 + 16 + 2, 20 + 24 + 2), under));
}

TEST_F(CardTest, LongContentIsCutBeforeTheCardEdge) {
  g_config.notification_position = 1;
  const int x = 20, y = 20;
  const int contentTop = y + 8 + 12 + 10;
  std::wstring longText;
  for (int i = 0; i < 60; ++i) longText += L"WM";
  DrawOne(y, longText, L"", 1.0f, 1.0f);
  // Text fills the column up to the cut, and nothing lies beyond 282 pixels.
  EXPECT_GT(CountMarked(x + 76, contentTop, x + 76 + 200, contentTop + 16), 50);
  EXPECT_EQ(CountMarked(x + 76 + 284, contentTop, x + 376, contentTop + 18), 0);
  EXPECT_EQ(CountDrawn(x + 386, contentTop, x + 1000, contentTop + 18), 0);

  // The same with emoji halves at every cut point: still inside the card.
  std::wstring emoji;
  for (int i = 0; i < 40; ++i) emoji += std::wstring(L"a") + static_cast<wchar_t>(0xD83D) + static_cast<wchar_t>(0xDE00);
  NewFrame();
  DrawOne(y, emoji, L"", 1.0f, 1.0f);
  EXPECT_EQ(CountDrawn(x + 386, contentTop, x + 1000, contentTop + 18), 0);
}

TEST_F(CardTest, ChannelLineOnlyWithAChannel) {
  g_config.notification_position = 1;
  const int x = 20, y = 20;
  const int channelTop = y + 8 + 12 + 10 + 12 + 6;
  auto channelInk = [&] { return CountMarked(x + 76, channelTop, x + 76 + 200, channelTop + 12); };

  std::vector<OverlayNotification> withServer = {Card(L"a", L"")};
  withServer[0].channelName = L"general";
  withServer[0].serverName = L"Guild";
  DrawCards(withServer);
  int serverLine = channelInk();
  EXPECT_GT(serverLine, 30);

  NewFrame();
  std::vector<OverlayNotification> channelOnly = {Card(L"a", L"")};
  channelOnly[0].channelName = L"general";
  DrawCards(channelOnly);
  int channelLine = channelInk();
  EXPECT_GT(channelLine, 30);
  EXPECT_LT(channelLine, serverLine);  // "#general" is shorter than "Guild • #general"

  NewFrame();
  std::vector<OverlayNotification> serverOnly = {Card(L"a", L"")};
  serverOnly[0].serverName = L"Guild";
  DrawCards(serverOnly);
  EXPECT_EQ(channelInk(), 0);
}

}  // namespace
