// Pixel probes on rendered frames: the geometry and colours of member tiles,
// not whole images (anti-aliasing differs between GDI+ builds).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/config.h"
#include "app/log.h"
#include "overlay/overlay_window.h"
#include "overlay/renderer.h"
#include "tests/support/child_process.h"
#include "tools/loopback_http/loopback_http_server.h"
#include "tools/loopback_http/test_png.h"

namespace {

constexpr int kSide = 400;  // frame
constexpr int kX = 20, kY = 20, kSize = 48;
// Each state colour shows on its own channels.
constexpr ConfigColor kSpeaking = MakeConfigColor(0, 255, 0);
constexpr ConfigColor kMuted = MakeConfigColor(255, 0, 255);
constexpr ConfigColor kDeafened = MakeConfigColor(0, 255, 255);

struct Pixel {
  int b, g, r, a;  // premultiplied
};
using Test = std::function<bool(const Pixel&)>;

Pixel At(int x, int y) {
  const Renderer& r = GetRenderer();
  const auto* p = static_cast<const unsigned char*>(r.framePixels) + (y * static_cast<int>(r.frameWidth) + x) * 4;
  return {p[0], p[1], p[2], p[3]};
}
int Count(int x0, int y0, int x1, int y1, const Test& test) {
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) n += test(At(x, y)) ? 1 : 0;
  return n;
}
// The placeholder disc is dark grey; the halo around it is pure black.
bool IsDisc(const Pixel& p) { return p.a > 0 && p.b > 4; }
bool IsRing(const Pixel& p) { return p.g > 60 && p.r < p.g / 3 && p.b < p.g / 3; }
bool Is(const Pixel& p, ConfigColor c) {
  return p.a == 255 && std::abs(p.r - ColorRed(c)) < 8 && std::abs(p.g - ColorGreen(c)) < 8 &&
         std::abs(p.b - ColorBlue(c)) < 8;
}
// First and last index along a row (or column) where the disc shows.
std::pair<int, int> DiscSpan(bool row, int fixed, int from, int to) {
  std::pair<int, int> span{-1, -1};
  for (int i = from; i < to; ++i)
    if (IsDisc(row ? At(i, fixed) : At(fixed, i))) (span.first < 0 ? span.first : span.second) = i;
  return span;
}

VoiceUser Member(const wchar_t* id) {
  VoiceUser user;
  user.id = id;
  user.username = L"ann";
  return user;
}

class RenderTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(RendererInitialize());
    cdn_ = new LoopbackHttpServer;
    cdn_->Route("GET", "/avatars/*", [](const LoopbackHttpRequest&) {
      LoopbackHttpResponse response;
      response.body = MakeSolidPng(64, 64, 0xFFFF0000);
      return response;
    });
    ASSERT_TRUE(cdn_->Start());
    _putenv_s("VOXMERE_CDN_BASE", cdn_->BaseUrl().c_str());
  }
  static void TearDownTestSuite() {
    RendererShutdown();
    delete cdn_;
  }
  static LoopbackHttpServer* cdn_;
  void SetUp() override {
    g_config = Config();
    g_config.overlay_x = kX;
    g_config.overlay_y = kY;
    g_config.speaking_color = kSpeaking;
    g_config.muted_color = kMuted;
    g_config.deafened_color = kDeafened;
  }
  static void Draw(const std::vector<VoiceUser>& users, uint32_t now = 1000) {
    GetRenderer().BeginFrame(kSide, kSide);
    ASSERT_NE(GetRenderer().framePixels, nullptr);
    GetRenderer().DrawMembers(users, now);
  }
};
LoopbackHttpServer* RenderTest::cdn_ = nullptr;

TEST_F(RenderTest, SlotsFiftySixApartAndJustJoinedTileFourteenWide) {
  Draw({Member(L"1"), Member(L"2"), Member(L"3")});
  for (int slot = 0; slot < 3; ++slot) {
    int top = kY + slot * (kSize + 8);
    auto column = DiscSpan(false, kX + kSize / 2, top - 6, top + kSize + 4);
    auto row = DiscSpan(true, top + kSize / 2, 0, kX + kSize + 6);
    EXPECT_NEAR(column.first, top, 1) << slot;
    EXPECT_NEAR(column.second, top + kSize - 1, 1) << slot;
    EXPECT_NEAR(row.first, kX, 1) << slot;
    EXPECT_NEAR(row.second, kX + kSize - 1, 1) << slot;
  }
  EXPECT_EQ(Count(0, kY + 2 * 56 + kSize + 11, kSide, kSide, [](const Pixel& p) { return p.a > 0; }), 0);

  VoiceUser joined = Member(L"1");
  joined.joinTick = 5000;
  Draw({joined}, 5000);
  auto row = DiscSpan(true, kY + 17 + 7, 0, kX + kSize);
  auto column = DiscSpan(false, kX + 17 + 7, 0, kY + kSize + 20);
  EXPECT_NEAR(row.first, kX + 17, 1);
  EXPECT_NEAR(row.second - row.first + 1, 14, 1);
  EXPECT_NEAR(column.first, kY + 17, 1);
  EXPECT_NEAR(column.second - column.first + 1, 14, 1);
}

TEST_F(RenderTest, RingOnlyWhileSpeakingAndInactiveAvatarDimmed) {
  VoiceUser member = Member(L"42");
  member.avatarHash = L"abc";
  ASSERT_TRUE(WaitFor([&] { return GetAvatar(member.id, member.avatarHash) != nullptr; }, 10000));
  const int cx = kX + kSize / 2, cy = kY + kSize / 2;
  Draw({member});
  EXPECT_EQ(Count(kX - 8, kY - 8, kX + kSize + 8, kY + kSize + 8, IsRing), 0);
  EXPECT_NEAR(At(cx, cy).a, 102, 3);  // 0.4 x 255, red premultiplied alike
  EXPECT_NEAR(At(cx, cy).r, 102, 3);

  member.speaking = true;
  Draw({member});
  EXPECT_GT(Count(kX - 8, kY - 8, kX + kSize + 8, kY + kSize + 8, IsRing), 100);
  EXPECT_TRUE(IsRing(At(cx, kY - 4)));  // outside the tile, straight above it
  EXPECT_EQ(At(cx, cy).a, 255);
  EXPECT_GE(At(cx, cy).r, 250);
  EXPECT_GT(Count(kX + kSize + 12, kY - 4, kSide, kY + kSize + 4, [](const Pixel& p) { return p.a > 0; }), 100)
      << "the avatar's circular clip is lifted for the label";
}

TEST_F(RenderTest, BadgeLowerRightDeafenedWinsOverMuted) {
  struct Case {
    bool muted, deafened;
    ConfigColor shown;  // 0: none
  };
  const Case cases[] = {{false, false, 0}, {true, false, kMuted}, {false, true, kDeafened}, {true, true, kDeafened}};
  const int bx = kX + 34, by = kY + 34;  // d = 16; probes clear of glyph and slash
  const POINT probes[] = {{bx + 8, by + 2}, {bx + 2, by + 8}};
  for (const Case& c : cases) {
    VoiceUser member = Member(L"1");
    member.muted = c.muted;
    member.deafened = c.deafened;
    Draw({member});
    for (POINT probe : probes) {
      SCOPED_TRACE(testing::Message() << c.muted << c.deafened << " at " << probe.x << "," << probe.y);
      EXPECT_EQ(Is(At(probe.x, probe.y), kMuted), c.shown == kMuted);
      EXPECT_EQ(Is(At(probe.x, probe.y), kDeafened), c.shown == kDeafened);
    }
  }
}

TEST_F(RenderTest, LabelOnlyWithShowNamesBotInBlurple) {
  // Right of the tile, past its halo, only the label and its pill draw.
  const int x0 = kX + kSize + 12, y0 = kY - 4, y1 = kY + kSize + 4;
  auto any = [](const Pixel& p) { return p.a > 0; };
  auto blurple = [](const Pixel& p) { return p.b > p.r + 40 && p.b > p.g + 30; };
  VoiceUser human = Member(L"1");
  human.muted = true;
  Draw({human});
  EXPECT_GT(Count(x0, y0, kSide, y1, any), 100) << "no label: no usable font family";
  EXPECT_EQ(Count(x0, y0, kSide, y1, blurple), 0);

  VoiceUser bot = Member(L"2");
  bot.bot = true;
  Draw({bot});
  EXPECT_GT(Count(x0, y0, kSide, y1, blurple), 5);
  EXPECT_GT(Count(x0 + 60, y0, kSide, y1, any), 0);  // " [BOT]" lengthens it

  g_config.show_names = false;
  Draw({human});
  EXPECT_EQ(Count(x0, y0, kSide, y1, any), 0);
  EXPECT_TRUE(Is(At(kX + 42, kY + 36), kMuted));  // the badge still draws
}

// Partial frames: a changed tile is cleared, redrawn and pushed alone, and
// the window keeps the rest of the picture it holds (Wine honours prcDirty).
// Nothing is pushed while nothing changed or while hidden; only the first
// three pushes are logged.
TEST_F(RenderTest, PartialFramesReplaceOnlyTheChangedPart) {
  const std::wstring log = TestBinDirectory() + L"\\overlay_render_test.log";
  DeleteFileW(log.c_str());
  g_logPath = log;
  OverlayWindow overlay;
  ASSERT_TRUE(overlay.Create(GetModuleHandleW(nullptr)));
  overlay.state.users = {Member(L"1"), Member(L"2")};
  const uint32_t& pushed = GetRenderer().endFrameCount;
  ASSERT_TRUE(overlay.Render());
  EXPECT_FALSE(overlay.Render()) << "nothing changed";
  overlay.Toggle();
  EXPECT_FALSE(overlay.Render()) << "hidden";
  overlay.Toggle();
  EXPECT_TRUE(overlay.Render()) << "shown again: a fresh frame";
  EXPECT_EQ(pushed, 2u);

  const int cx = kX + kSize / 2, ringY = kY + 56 - 4, spot = 300;  // spot: no item reaches it
  auto* pixels = static_cast<uint32_t*>(GetRenderer().framePixels);
  pixels[spot * GetRenderer().frameWidth + spot] = 0xFFFFFFFF;  // drawn into the frame, not pushed
  const Pixel firstTile = At(cx, kY + kSize / 2);
  overlay.state.users[1].speaking = true;
  ASSERT_TRUE(overlay.Render());
  EXPECT_TRUE(IsRing(At(cx, ringY)));
  EXPECT_EQ(At(spot, spot).a, 255) << "the frame is cleared only where it changed";
  EXPECT_EQ(At(cx, kY + kSize / 2).b, firstTile.b);

  HDC screen = GetDC(nullptr);
  auto shown = [&](int x, int y) { return GetPixel(screen, overlay.x + x, overlay.y + y); };
  // Without a compositing manager the screen shows the premultiplied colours over black.
  const Pixel ring = At(cx, ringY);
  EXPECT_TRUE(WaitFor([&] { return shown(cx, ringY) == RGB(ring.r, ring.g, ring.b); }, 5000))
      << "the ring reaches the screen: " << std::hex << shown(cx, ringY);
  EXPECT_EQ(shown(spot, spot), RGB(0, 0, 0)) << "outside the dirty rectangle the window keeps its picture";
  ASSERT_TRUE(GetRenderer().EndFrame(overlay.hwnd, overlay.x, overlay.y));  // the whole frame
  EXPECT_TRUE(WaitFor([&] { return shown(spot, spot) == RGB(255, 255, 255); }, 5000));
  ReleaseDC(nullptr, screen);

  g_logPath.clear();
  std::stringstream text;
  text << std::ifstream(log.c_str()).rdbuf();
  std::string lines = text.str();
  int logged = 0;
  for (size_t at = 0; (at = lines.find("[Renderer] EndFrame: UpdateLayeredWindow result=1 ", at)) != std::string::npos;
       ++at)
    ++logged;
  EXPECT_EQ(logged, 3) << lines;
  DeleteFileW(log.c_str());
}

}  // namespace
