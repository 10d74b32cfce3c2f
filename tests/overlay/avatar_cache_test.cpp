// The avatar cache against a loopback CDN: one download per id, failures
// retried later one at a time, bodies capped, and a shutdown that neither
// waits for nor is harmed by a transfer still running.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "app/log.h"
#include "overlay/avatar_request.h"
#include "overlay/overlay_state.h"
#include "overlay/renderer.h"
#include "app/voice_user.h"
#include "tests/support/child_process.h"
#include "tools/loopback_http/loopback_http_server.h"
#include "tools/loopback_http/test_png.h"

namespace {

LoopbackHttpResponse Png(uint32_t delayMs = 0) {
  LoopbackHttpResponse response;
  response.contentType = "image/png";
  response.body = MakeSolidPng(64, 64, 0xFF00FF00);
  response.delayMs = delayMs;
  return response;
}
bool Idle(const wchar_t* id) { return !GetRenderer().avatars.IsDownloading(id); }

class AvatarCacheTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(RendererInitialize()); }
  static void TearDownTestSuite() { RendererShutdown(); }
  void SetUp() override { DeleteFileW((g_logPath = TestBinDirectory() + L"\\avatar_cache_test.log").c_str()); }
  void StartCdn(LoopbackHttpHandler handler) {
    cdn_.Route("GET", "/avatars/*", handler);
    cdn_.Route("GET", "/guilds/*", handler);
    ASSERT_TRUE(cdn_.Start());
    _putenv_s("VOXMERE_CDN_BASE", cdn_.BaseUrl().c_str());
  }
  void TearDown() override { DeleteFileW(g_logPath.c_str()); }
  bool Logged(const std::string& line) const { return !ReadLogLines(g_logPath, line).empty(); }
  LoopbackHttpServer cdn_;
};

TEST_F(AvatarCacheTest, OneRequestPerIdSharedByTileAndCard) {
  StartCdn([](const LoopbackHttpRequest&) { return Png(200); });
  MemberTile member;
  member.id = "101";
  member.avatarHash = L"h101";
  OverlayState state;
  state.shown = {member, member, member};  // three tiles, one id
  const DrawSettings settings = DrawSettingsOf(Config());
  FrameBuffer frame;
  frame.Prepare(200, 300);
  for (const FrameItem& item : LayOutFrame(state, settings, FrameView{0, 0, 200, 300}, 1000, GetRenderer().Probes()).items)
    DrawItem(DrawContext{GetRenderer(), frame, PixelRect(), settings}, item);
  GetAvatar({L"102", L"", {}});                                      // no hash: never a request
  Gdiplus::Image* tile = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (tile = GetAvatar({L"101", L"h101", {}})) != nullptr; }, 10000));
  EXPECT_EQ(GetAvatar({L"101", L"newer", {}}), tile);  // a changed hash keeps the picture for the run
  ASSERT_EQ(cdn_.RequestCount(), 1);
  EXPECT_EQ(cdn_.RequestCount("GET", "/avatars/101/h101.png"), 1);
  EXPECT_EQ(cdn_.Requests()[0].query, "size=64");
}

// A member with a picture for one server shows it there and their own elsewhere.
TEST_F(AvatarCacheTest, ServerPictureKeptApartFromTheUsersOwn) {
  StartCdn([](const LoopbackHttpRequest&) { return Png(); });
  AvatarCache& cache = GetRenderer().avatars;
  Gdiplus::Image *own = nullptr, *server = nullptr;
  // Drawn at 150 % (72 px): the server picture is asked twice as large; the one already asked stays.
  ASSERT_TRUE(WaitFor([&] { return (own = cache.Get(L"110", L"h110")) != nullptr; }, 10000));
  cache.BeginFrame(AvatarPictureSize(72.0f));
  ASSERT_TRUE(WaitFor([&] { return (server = cache.Get(L"110", L"g110", L"61")) && cache.Get(L"110", L"h110") == own; }, 10000));
  cache.BeginFrame();
  EXPECT_EQ(cdn_.Requests().back().query, "size=128");
  EXPECT_NE(own, server);
  EXPECT_EQ(cache.Get(L"110", L"g110", L"61"), server);
  EXPECT_EQ(cdn_.RequestCount("GET", "/avatars/110/h110.png"), 1);
  EXPECT_EQ(cdn_.RequestCount("GET", "/guilds/61/users/110/avatars/g110.png"), 1);
  EXPECT_EQ(cdn_.RequestCount(), 2);
  // The browser source serves each as it was downloaded.
  ASSERT_TRUE(cache.EncodedBytes(L"110") && cache.EncodedBytes(L"61/110"));
  EXPECT_EQ(*cache.EncodedBytes(L"61/110"), MakeSolidPng(64, 64, 0xFF00FF00));
  EXPECT_EQ(cache.EncodedBytes(L"61"), nullptr);
}

// Retrying each frame after a 404 would ask the CDN about 30 times a second.
TEST_F(AvatarCacheTest, NotFoundRetriedLaterNeverTwiceAtOnce) {
  std::atomic<int> inFlight{0}, most{0};
  StartCdn([&](const LoopbackHttpRequest&) {
    int now = ++inFlight;
    for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
    }
    Sleep(300);  // the transfer the frames ask during
    --inFlight;
    LoopbackHttpResponse response;
    response.status = 404;
    response.body = R"({"message": "404: Not Found", "code": 0})";
    return response;
  });
  auto askFor = [](DWORD ms) {
    for (ULONGLONG end = GetTickCount64() + ms; GetTickCount64() < end; Sleep(10)) GetAvatar({L"104", L"gone", {}});
  };
  askFor(200);
  ASSERT_TRUE(WaitFor([] { return Idle(L"104"); }, 10000));
  askFor(1000);  // within the first 2 s retry delay
  EXPECT_EQ(cdn_.RequestCount(), 1);
  ASSERT_TRUE(WaitFor([&] { return GetAvatar({L"104", L"gone", {}}), cdn_.RequestCount() == 2; }, 5000));
  ASSERT_TRUE(WaitFor([] { return Idle(L"104"); }, 10000));
  EXPECT_EQ(most.load(), 1);
  EXPECT_TRUE(Logged("[Overlay] Avatar download failed for user 104: not an image"));
}

// Nobody may speak for an hour: the loop learns of an arrival, and of when a
// failed picture is due again, from the cache itself; one nobody shows any
// more is not waited for.
TEST_F(AvatarCacheTest, EndedDownloadsWakeTheLoopAndAWantedFailureSaysWhenItIsDue) {
  StartCdn([](const LoopbackHttpRequest& request) {
    if (request.path.find("/gone") == std::string::npos) return Png();
    LoopbackHttpResponse response;
    response.status = 404;
    return response;
  });
  AvatarCache& cache = GetRenderer().avatars;
  std::atomic<int> woken{0};
  cache.onFinished = [&woken] { ++woken; };
  cache.BeginFrame();
  EXPECT_EQ(cache.MsUntilChange(GetTickCount()), kNoChange);

  cache.Get(L"120", L"gone");
  ASSERT_TRUE(WaitFor([&] { return woken == 1; }, 10000));
  EXPECT_EQ(cache.MsUntilChange(GetTickCount()), 0u) << "a failure is news for the next frame";
  EXPECT_EQ(cache.EncodedBytes(L"120"), nullptr) << "a failure has no bytes to serve";
  cache.BeginFrame();
  EXPECT_EQ(cache.MsUntilChange(GetTickCount()), kNoChange) << "not asked for in this frame";
  cache.Get(L"120", L"gone");  // still cooling down
  const uint32_t due = cache.MsUntilChange(GetTickCount());
  EXPECT_GT(due, 1000u);
  EXPECT_LE(due, 2000u);
  EXPECT_EQ(cache.MsUntilChange(GetTickCount() + 5000), 0u);
  cache.BeginFrame();
  EXPECT_EQ(cache.MsUntilChange(GetTickCount() + 5000), kNoChange) << "the member left: no retry is waited for";

  cache.Get(L"121", L"here");
  ASSERT_TRUE(WaitFor([&] { return woken == 2; }, 10000));
  EXPECT_EQ(cache.MsUntilChange(GetTickCount()), 0u) << "an arrival is drawn without waiting for a change";
  EXPECT_NE(cache.Get(L"121", L"here"), nullptr);
  cache.onFinished = nullptr;
}

TEST_F(AvatarCacheTest, BodyOverTheCapFails) {
  StartCdn([](const LoopbackHttpRequest&) {
    LoopbackHttpResponse response = Png();
    response.body.append(9 * 1024 * 1024, '\0');  // a valid PNG padded past 8 MiB
    return response;
  });
  GetAvatar({L"106", L"h", {}});
  ASSERT_TRUE(WaitFor([] { return Idle(L"106"); }, 20000));
  EXPECT_EQ(GetAvatar({L"106", L"h", {}}), nullptr);
  EXPECT_TRUE(Logged("user 106: body larger than 8388608 bytes"));
}

TEST_F(AvatarCacheTest, ShutdownDoesNotWaitForTransfersAndTheyEndHarmlessly) {
  std::atomic<bool> answered{false};
  StartCdn([&](const LoopbackHttpRequest&) {
    Sleep(2000);
    answered = true;
    return Png();
  });
  GetAvatar({L"108", L"slow", {}});
  ASSERT_TRUE(WaitFor([&] { return cdn_.RequestCount() == 1; }, 5000));
  ULONGLONG start = GetTickCount64();
  RendererShutdown();
  EXPECT_LT(GetTickCount64() - start, 1000u);
  EXPECT_EQ(GetAvatar({L"108", L"slow", {}}), nullptr);  // closed: nothing new starts
  // The answer arrives with GDI+ stopped; a fresh start then works as new.
  ASSERT_TRUE(WaitFor([&] { return answered.load(); }, 10000));
  Sleep(500);
  ASSERT_TRUE(RendererInitialize());
  ASSERT_TRUE(WaitFor([] { return GetAvatar({L"108", L"slow", {}}) != nullptr; }, 10000));
  EXPECT_EQ(cdn_.RequestCount(), 2);
}

}  // namespace
