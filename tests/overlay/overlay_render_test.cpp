// Pixel probes on rendered frames: geometry and colours that the member tiles
// must show, not whole-image comparisons (anti-aliasing differs between GDI+
// builds). Avatars come from a loopback CDN.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "app/config.h"
#include "app/log.h"
#include "overlay/overlay_window.h"
#include "overlay/renderer.h"
#include "tools/loopback_http/loopback_http_server.h"
#include "tools/loopback_http/test_png.h"

namespace {

constexpr int kFrameSide = 400;
constexpr int kColumnX = 20;
constexpr int kColumnY = 20;
constexpr int kSize = 48;
// Colours picked so each shows up on one channel pair only.
constexpr ConfigColor kSpeaking = MakeConfigColor(0, 255, 0);
constexpr ConfigColor kMuted = MakeConfigColor(255, 0, 255);
constexpr ConfigColor kDeafened = MakeConfigColor(0, 255, 255);

struct Pixel {
  int b, g, r, a;  // premultiplied
};

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs) {
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!done()) {
    if (GetTickCount64() > deadline) return false;
    Sleep(20);
  }
  return true;
}

VoiceUser Member(const wchar_t* id, const wchar_t* name) {
  VoiceUser user;
  user.id = id;
  user.username = name;
  return user;
}

class RenderTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(RendererInitialize());
    cdn_ = new LoopbackHttpServer;
    cdn_->Route("GET", "/avatars/*", [](const LoopbackHttpRequest&) {
      LoopbackHttpResponse response;
      response.contentType = "image/png";
      response.body = MakeSolidPng(64, 64, 0xFFFF0000);
      return response;
    });
    ASSERT_TRUE(cdn_->Start());
    _putenv_s("VOXMERE_CDN_BASE", cdn_->BaseUrl().c_str());
  }
  static void TearDownTestSuite() {
    RendererShutdown();
    delete cdn_;
    cdn_ = nullptr;
  }

  void SetUp() override {
    g_config = Config();
    g_config.overlay_x = kColumnX;
    g_config.overlay_y = kColumnY;
    g_config.avatar_size = kSize;
    g_config.speaking_color = kSpeaking;
    g_config.muted_color = kMuted;
    g_config.deafened_color = kDeafened;
  }

  void Draw(const std::vector<VoiceUser>& users, uint32_t now = 1000) {
    Renderer& renderer = GetRenderer();
    renderer.BeginFrame(kFrameSide, kFrameSide);
    ASSERT_NE(renderer.framePixels, nullptr);
    renderer.DrawMembers(users, now);
  }

  static Pixel At(int x, int y) {
    const auto* bytes = static_cast<const unsigned char*>(GetRenderer().framePixels) + (y * kFrameSide + x) * 4;
    return {bytes[0], bytes[1], bytes[2], bytes[3]};
  }

  // The placeholder disc (dark grey, never pure black like the halo).
  static bool IsDisc(const Pixel& p) { return p.a > 0 && p.b > 4; }
  static bool IsSpeakingRing(const Pixel& p) { return p.g > 60 && p.r < p.g / 3 && p.b < p.g / 3; }

  // Count of pixels in the box matching the test.
  static int Count(int x0, int y0, int x1, int y1, const std::function<bool(const Pixel&)>& test) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += test(At(x, y)) ? 1 : 0;
    return n;
  }

  // First and last coordinate along a row or column where the disc shows.
  static std::pair<int, int> DiscSpan(bool row, int fixed, int from, int to) {
    int first = -1, last = -1;
    for (int i = from; i < to; ++i) {
      Pixel p = row ? At(i, fixed) : At(fixed, i);
      if (!IsDisc(p)) continue;
      if (first < 0) first = i;
      last = i;
    }
    return {first, last};
  }

  static LoopbackHttpServer* cdn_;
};

LoopbackHttpServer* RenderTest::cdn_ = nullptr;

TEST_F(RenderTest, MembersStackInSlotsFiftySixApart) {
  Draw({Member(L"1", L"ann"), Member(L"2", L"bob"), Member(L"3", L"cy")});
  const int centreX = kColumnX + kSize / 2;
  for (int slot = 0; slot < 3; ++slot) {
    int top = kColumnY + slot * (kSize + 8);
    auto vertical = DiscSpan(false, centreX, top - 6, top + kSize + 4);
    EXPECT_NEAR(vertical.first, top, 1) << slot;
    EXPECT_NEAR(vertical.second, top + kSize - 1, 1) << slot;
    auto horizontal = DiscSpan(true, top + kSize / 2, 0, kColumnX + kSize + 6);
    EXPECT_NEAR(horizontal.first, kColumnX, 1) << slot;
    EXPECT_NEAR(horizontal.second, kColumnX + kSize - 1, 1) << slot;
  }
  // Nothing below the third slot's halo (8 pixels out, pen 5).
  int below = kColumnY + 2 * (kSize + 8) + kSize + 11;
  EXPECT_EQ(Count(0, below, kFrameSide, kFrameSide, [](const Pixel& p) { return p.a > 0; }), 0);
}

TEST_F(RenderTest, JustJoinedTileIsFourteenWideCentredInItsSlot) {
  VoiceUser joined = Member(L"1", L"ann");
  joined.joinTick = 5000;
  Draw({joined}, 5000);
  auto horizontal = DiscSpan(true, kColumnY + 17 + 7, 0, kColumnX + kSize);
  EXPECT_NEAR(horizontal.first, kColumnX + 17, 1);
  EXPECT_NEAR(horizontal.second - horizontal.first + 1, 14, 1);
  auto vertical = DiscSpan(false, kColumnX + 17 + 7, 0, kColumnY + kSize + 20);
  EXPECT_NEAR(vertical.first, kColumnY + 17, 1);
  EXPECT_NEAR(vertical.second - vertical.first + 1, 14, 1);

  Draw({joined}, 5500);  // animation over: full size
  horizontal = DiscSpan(true, kColumnY + kSize / 2, 0, kColumnX + kSize + 6);
  EXPECT_NEAR(horizontal.second - horizontal.first + 1, kSize, 1);
}

TEST_F(RenderTest, SpeakingRingOnlyWhileSpeaking) {
  VoiceUser member = Member(L"1", L"ann");
  const int x0 = kColumnX - 8, y0 = kColumnY - 8, x1 = kColumnX + kSize + 8, y1 = kColumnY + kSize + 8;
  Draw({member});
  EXPECT_EQ(Count(x0, y0, x1, y1, IsSpeakingRing), 0);
  member.speaking = true;
  Draw({member});
  EXPECT_GT(Count(x0, y0, x1, y1, IsSpeakingRing), 100);
  // The ring lies outside the tile: straight above its top edge.
  EXPECT_TRUE(IsSpeakingRing(At(kColumnX + kSize / 2, kColumnY - 4))) << At(kColumnX + kSize / 2, kColumnY - 4).g;
  EXPECT_FALSE(IsSpeakingRing(At(kColumnX + kSize / 2, kColumnY + 6)));
}

TEST_F(RenderTest, InactiveAvatarAtInactiveOpacity) {
  VoiceUser member = Member(L"42", L"ann");
  member.avatarHash = L"abc";
  ASSERT_TRUE(WaitFor([&] { return GetAvatar(member.id, member.avatarHash) != nullptr; }, 10000));
  const int cx = kColumnX + kSize / 2, cy = kColumnY + kSize / 2;

  Draw({member});
  Pixel dimmed = At(cx, cy);
  EXPECT_NEAR(dimmed.a, 102, 3);  // 0.4 x 255
  EXPECT_NEAR(dimmed.r, 102, 3);
  EXPECT_LE(dimmed.g + dimmed.b, 4);

  member.speaking = true;
  Draw({member});
  Pixel opaque = At(cx, cy);
  EXPECT_EQ(opaque.a, 255);
  EXPECT_GE(opaque.r, 250);

  g_config.inactive_opacity = 0.0f;
  member.speaking = false;
  Draw({member});
  EXPECT_EQ(At(cx, cy).a, 0);
}

TEST_F(RenderTest, BadgeLowerRightDeafenedWinsOverMuted) {
  struct Case {
    bool muted, deafened;
    ConfigColor expected;  // 0: no badge
  };
  const Case cases[] = {{false, false, 0}, {true, false, kMuted}, {false, true, kDeafened}, {true, true, kDeafened}};
  // d = 16: badge box at (x + 34, y + 34); probe its top middle and left
  // middle, clear of the glyph and the slash.
  const int bx = kColumnX + 34, by = kColumnY + 34;
  const POINT probes[] = {{bx + 8, by + 2}, {bx + 2, by + 8}};
  auto matches = [](const Pixel& p, ConfigColor c) {
    return p.a == 255 && std::abs(p.r - ColorRed(c)) < 8 && std::abs(p.g - ColorGreen(c)) < 8 &&
           std::abs(p.b - ColorBlue(c)) < 8;
  };
  for (const Case& c : cases) {
    VoiceUser member = Member(L"1", L"ann");
    member.muted = c.muted;
    member.deafened = c.deafened;
    Draw({member});
    for (POINT probe : probes) {
      Pixel p = At(probe.x, probe.y);
      SCOPED_TRACE(testing::Message() << "muted " << c.muted << " deafened " << c.deafened << " at " << probe.x
                                      << "," << probe.y);
      EXPECT_EQ(matches(p, kMuted), c.expected == kMuted);
      EXPECT_EQ(matches(p, kDeafened), c.expected == kDeafened);
    }
    // Never at the upper left.
    EXPECT_FALSE(matches(At(kColumnX + 6, kColumnY + 10), kMuted) || matches(At(kColumnX + 6, kColumnY + 10), kDeafened));
  }
}

TEST_F(RenderTest, LabelOnlyWithShowNamesAndBotLabelInBlurple) {
  // Right of the tile, beyond its halo: only the label and its pill draw here.
  const int x0 = kColumnX + kSize + 12, y0 = kColumnY - 4, x1 = kFrameSide, y1 = kColumnY + kSize + 4;
  auto anything = [](const Pixel& p) { return p.a > 0; };
  auto blurple = [](const Pixel& p) { return p.b > p.r + 40 && p.b > p.g + 30; };
  VoiceUser human = Member(L"1", L"ann");
  human.muted = true;
  VoiceUser bot = Member(L"2", L"helper");
  bot.bot = true;

  Draw({human});
  EXPECT_GT(Count(x0, y0, x1, y1, anything), 100) << "no label drawn: no usable font family?";
  EXPECT_EQ(Count(x0, y0, x1, y1, blurple), 0);

  g_config.overlay_y = kColumnY;
  Draw({bot});
  EXPECT_GT(Count(x0, y0, x1, y1, blurple), 5);
  // " [BOT]" makes the bot's label longer than its bare name would be.
  int widest = 0;
  for (int x = x0; x < x1; ++x)
    if (Count(x, y0, x + 1, y1, anything) > 0) widest = x;
  EXPECT_GT(widest - x0, 60);

  g_config.show_names = false;
  Draw({human});
  EXPECT_EQ(Count(x0, y0, x1, y1, anything), 0);
  EXPECT_EQ(At(kColumnX + 42, kColumnY + 36).a, 255);  // the badge still is drawn
}

TEST_F(RenderTest, PlaceholderShowsUpperCasedInitialOnlyWithAName) {
  const int x0 = kColumnX + 10, y0 = kColumnY + 10, x1 = kColumnX + kSize - 10, y1 = kColumnY + kSize - 10;
  auto bright = [](const Pixel& p) { return p.r > 60 && p.g > 60 && p.b > 60; };
  VoiceUser member = Member(L"1", L"w");
  member.speaking = true;
  Draw({member});
  int lower = Count(x0, y0, x1, y1, bright);
  EXPECT_GT(lower, 10);
  member.username = L"";
  Draw({member});
  EXPECT_EQ(Count(x0, y0, x1, y1, bright), 0);
}

TEST_F(RenderTest, HiddenOverlayPushesNothing) {
  std::wstring log = L"overlay_render_test.log";
  DeleteFileW(log.c_str());
  g_logPath = log;
  OverlayWindow overlay;
  ASSERT_TRUE(overlay.Create(GetModuleHandleW(nullptr)));
  overlay.SetVoiceUsers({Member(L"1", L"ann")});
  Renderer& renderer = GetRenderer();
  uint32_t pushed = renderer.endFrameCount;

  overlay.Render();
  EXPECT_EQ(renderer.endFrameCount, pushed + 1);
  overlay.Toggle();
  EXPECT_FALSE(overlay.visible);
  EXPECT_FALSE(IsWindowVisible(overlay.hwnd));
  overlay.Render();
  overlay.Render();
  EXPECT_EQ(renderer.endFrameCount, pushed + 1);
  overlay.Toggle();
  EXPECT_TRUE(overlay.visible);
  for (int i = 0; i < 4; ++i) overlay.Render();
  EXPECT_EQ(renderer.endFrameCount, pushed + 5);

  g_logPath.clear();
  std::ifstream in("overlay_render_test.log");
  std::stringstream text;
  text << in.rdbuf();
  std::string lines = text.str();
  size_t endFrames = 0;
  for (size_t at = lines.find("[Renderer] EndFrame: UpdateLayeredWindow result=1 "); at != std::string::npos;
       at = lines.find("[Renderer] EndFrame: UpdateLayeredWindow", at + 1))
    ++endFrames;
  EXPECT_EQ(endFrames, pushed == 0 ? 3u : 0u) << lines;
  EXPECT_NE(lines.find("[Overlay] SetVoiceUsers: 1 users (1 users, 0 bots)"), std::string::npos) << lines;
  DeleteFileW(log.c_str());
}

}  // namespace
