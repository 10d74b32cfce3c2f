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
constexpr char kSlowAvatarId[] = "/78/";  // the CDN answers it after 3 s
// Each state colour shows on its own channels.
constexpr ConfigColor kSpeaking = MakeConfigColor(0, 255, 0);
constexpr ConfigColor kMuted = MakeConfigColor(255, 0, 255);
constexpr ConfigColor kDeafened = MakeConfigColor(0, 255, 255);

struct Pixel {
  int b, g, r, a;  // premultiplied
};
using Test = std::function<bool(const Pixel&)>;

Pixel At(int x, int y) {
  const auto* p = static_cast<const unsigned char*>(GetRenderer().framePixels) + (y * kSide + x) * 4;
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
    cdn_->Route("GET", "/avatars/*", [](const LoopbackHttpRequest& request) {
      if (request.path.find(kSlowAvatarId) != std::string::npos) Sleep(3000);
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
  static LoopbackHttpServer* cdn_;
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

TEST_F(RenderTest, HiddenOverlayPushesNothing) {
  const std::wstring log = TestBinDirectory() + L"\\overlay_render_test.log";
  DeleteFileW(log.c_str());
  g_logPath = log;
  OverlayWindow overlay;
  ASSERT_TRUE(overlay.Create(GetModuleHandleW(nullptr)));
  uint32_t& pushed = GetRenderer().endFrameCount;
  ASSERT_EQ(pushed, 0u);
  overlay.Render();
  EXPECT_EQ(pushed, 1u);
  overlay.Toggle();
  overlay.Render();
  EXPECT_EQ(pushed, 1u);
  overlay.Toggle();
  overlay.Render();
  overlay.Render();
  EXPECT_EQ(pushed, 2u) << "shown again: one fresh frame, then nothing while nothing changes";
  for (int i = 0; i < 3; ++i) {
    overlay.Invalidate();
    overlay.Render();
  }
  EXPECT_EQ(pushed, 5u);

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

// Frames only when the picture changes: the entry animation draws every
// frame, a settled overlay pushes nothing, and each change (a speaker, a
// setting, an avatar arriving) pushes exactly one frame at the next Render.
TEST_F(RenderTest, FramesOnlyWhenThePictureChanges) {
  OverlayWindow overlay;
  ASSERT_TRUE(overlay.Create(GetModuleHandleW(nullptr)));
  const uint32_t& pushed = GetRenderer().endFrameCount;
  auto frame = [&] {
    overlay.Update();
    return overlay.Render();
  };

  VoiceUser newcomer = Member(L"77");
  newcomer.avatarHash = L"f00d";
  overlay.SetVoiceUsers({Member(L"1"), newcomer});
  EXPECT_TRUE(overlay.stateChanged);
  uint32_t start = pushed;
  uint32_t passes = 0;
  for (DWORD began = GetTickCount(); GetTickCount() - began < kJoinAnimationMs; Sleep(33), ++passes) frame();
  EXPECT_FALSE(overlay.stateChanged);
  EXPECT_EQ(pushed - start, passes) << "the entry animation draws every frame";

  ASSERT_TRUE(WaitFor([&] { return GetAvatar(newcomer.id, newcomer.avatarHash) != nullptr; }, 10000));
  frame();  // the animation's end and the avatar that arrived during it
  uint32_t settled = pushed;
  for (int i = 0; i < 10; ++i) EXPECT_FALSE(frame()) << i;
  EXPECT_EQ(pushed, settled) << "nothing changed: nothing pushed";

  std::vector<VoiceUser> list = {Member(L"1"), newcomer};
  list[0].speaking = true;
  overlay.SetVoiceUsers(list);
  EXPECT_TRUE(frame()) << "a speaker shows at the next frame";
  overlay.SetVoiceUsers(list);
  EXPECT_FALSE(frame()) << "the same list again changes nothing";

  g_config.speaking_color = MakeConfigColor(1, 2, 3);
  EXPECT_TRUE(frame()) << "a setting drawing reads";
  g_config.notification_duration = 1234;
  EXPECT_FALSE(frame()) << "a setting drawing does not read";

  VoiceUser late = Member(L"78");
  late.avatarHash = L"beef";
  list.push_back(late);
  overlay.SetVoiceUsers(list);
  // The last frame runs after the animation's end, however late a Sleep wakes on a busy machine.
  for (DWORD began = GetTickCount();; Sleep(33)) {
    bool ended = GetTickCount() - began >= kJoinAnimationMs + 50;
    frame();
    if (ended) break;
  }
  ASSERT_EQ(GetAvatar(late.id, late.avatarHash), nullptr) << "the slow avatar came early";
  EXPECT_FALSE(frame());
  ASSERT_TRUE(WaitFor([&] { return GetAvatar(late.id, late.avatarHash) != nullptr; }, 10000));
  EXPECT_TRUE(frame()) << "an avatar that arrived after the animation";
  EXPECT_FALSE(frame());
}

}  // namespace
