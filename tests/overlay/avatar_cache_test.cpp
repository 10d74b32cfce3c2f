// The avatar cache against a loopback CDN: one download per id, failures
// retried later one at a time, bodies capped, and a shutdown that neither
// waits for nor is harmed by a download still on the wire.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "app/config.h"
#include "app/log.h"
#include "overlay/renderer.h"
#include "rpc/voice_user.h"
#include "tools/loopback_http/loopback_http_server.h"
#include "tools/loopback_http/test_png.h"

namespace {

constexpr wchar_t kLogFile[] = L"avatar_cache_test.log";

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs) {
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!done()) {
    if (GetTickCount64() > deadline) return false;
    Sleep(10);
  }
  return true;
}

// Keeps asking, as frames do, for the given time.
void AskFor(const std::wstring& id, const std::wstring& hash, DWORD durationMs) {
  ULONGLONG end = GetTickCount64() + durationMs;
  while (GetTickCount64() < end) {
    GetAvatar(id, hash);
    Sleep(10);
  }
}

std::string ReadLog() {
  std::ifstream in(kLogFile);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

LoopbackHttpResponse Png() {
  LoopbackHttpResponse response;
  response.contentType = "image/png";
  response.body = MakeSolidPng(64, 64, 0xFF00FF00);
  return response;
}

class AvatarCacheTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(RendererInitialize()); }
  static void TearDownTestSuite() { RendererShutdown(); }

  void SetUp() override {
    g_config = Config();
    DeleteFileW(kLogFile);
    g_logPath = kLogFile;
  }
  void TearDown() override {
    g_logPath.clear();
    DeleteFileW(kLogFile);
  }

  void StartCdn() {
    ASSERT_TRUE(cdn_.Start());
    _putenv_s("VOXMERE_CDN_BASE", cdn_.BaseUrl().c_str());
  }

  LoopbackHttpServer cdn_;
};

TEST_F(AvatarCacheTest, OneRequestPerIdHoweverManyTiles) {
  cdn_.Route("GET", "/avatars/*", [](const LoopbackHttpRequest&) {
    LoopbackHttpResponse response = Png();
    response.delayMs = 200;
    return response;
  });
  StartCdn();
  VoiceUser member;
  member.id = L"101";
  member.username = L"ann";
  member.avatarHash = L"h101";
  Renderer& renderer = GetRenderer();
  renderer.BeginFrame(200, 300);
  renderer.DrawMembers({member, member, member}, 1000);  // three tiles, one id
  EXPECT_TRUE(renderer.avatars.IsDownloading(L"101"));
  ASSERT_TRUE(WaitFor([&] { return GetAvatar(member.id, member.avatarHash) != nullptr; }, 10000));
  EXPECT_EQ(cdn_.RequestCount(), 1);
  ASSERT_EQ(cdn_.RequestCount("GET", "/avatars/101/h101.png"), 1);
  EXPECT_EQ(cdn_.Requests()[0].query, "size=64");
}

TEST_F(AvatarCacheTest, EmptyOrUnsafeHashNeverRequests) {
  cdn_.Route("GET", "/avatars/*", [](const LoopbackHttpRequest&) { return Png(); });
  StartCdn();
  AskFor(L"102", L"", 200);
  AskFor(L"103", L"../../x", 200);
  EXPECT_FALSE(GetRenderer().avatars.IsDownloading(L"102"));
  EXPECT_EQ(cdn_.RequestCount(), 0);
  std::string log = ReadLog();
  size_t first = log.find("[Overlay] Avatar not requested");
  EXPECT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find("[Overlay] Avatar not requested", first + 1), std::string::npos) << "logged once per id";
}

TEST_F(AvatarCacheTest, NotFoundIsRetriedLaterNeverTwiceAtOnce) {
  std::atomic<int> inFlight{0};
  std::atomic<int> mostInFlight{0};
  cdn_.Route("GET", "/avatars/*", [&](const LoopbackHttpRequest&) {
    int now = ++inFlight;
    int seen = mostInFlight.load();
    while (now > seen && !mostInFlight.compare_exchange_weak(seen, now)) {
    }
    Sleep(300);
    --inFlight;
    LoopbackHttpResponse response;
    response.status = 404;
    response.body = R"({"message": "404: Not Found", "code": 0})";
    return response;
  });
  StartCdn();
  const std::wstring id = L"104", hash = L"gone";
  AskFor(id, hash, 200);
  EXPECT_TRUE(GetRenderer().avatars.IsDownloading(id));
  ASSERT_TRUE(WaitFor([&] { return !GetRenderer().avatars.IsDownloading(id); }, 10000));
  EXPECT_EQ(cdn_.RequestCount(), 1);
  EXPECT_EQ(GetAvatar(id, hash), nullptr);

  AskFor(id, hash, 1000);  // within the first retry delay: no new request
  EXPECT_EQ(cdn_.RequestCount(), 1);
  ASSERT_TRUE(WaitFor([&] {
    GetAvatar(id, hash);
    return cdn_.RequestCount() == 2;
  }, 5000));
  ASSERT_TRUE(WaitFor([&] { return !GetRenderer().avatars.IsDownloading(id); }, 10000));
  EXPECT_EQ(mostInFlight.load(), 1);
  EXPECT_EQ(GetAvatar(id, hash), nullptr);
  EXPECT_NE(ReadLog().find("[Overlay] Avatar download failed for user 104: not an image"), std::string::npos)
      << ReadLog();
}

TEST_F(AvatarCacheTest, TileAndCardShareOneImageKeptAcrossHashChange) {
  cdn_.Route("GET", "/avatars/*", [](const LoopbackHttpRequest&) { return Png(); });
  StartCdn();
  Gdiplus::Image* tile = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (tile = GetAvatar(L"105", L"first")) != nullptr; }, 10000));
  EXPECT_EQ(GetAvatar(L"105", L"first"), tile);   // the card asks with the same id
  EXPECT_EQ(GetAvatar(L"105", L"second"), tile);  // a new hash does not refetch during the run
  EXPECT_EQ(GetAvatar(L"105", L""), tile);
  EXPECT_EQ(cdn_.RequestCount(), 1);
  EXPECT_EQ(tile->GetWidth(), 64u);
}

TEST_F(AvatarCacheTest, OversizedOrBrokenBodiesAreFailedDownloads) {
  cdn_.Route("GET", "/avatars/106/*", [](const LoopbackHttpRequest&) {
    LoopbackHttpResponse response = Png();
    response.body.append(9 * 1024 * 1024, '\0');  // a valid PNG, padded past the cap
    return response;
  });
  cdn_.Route("GET", "/avatars/107/*", [](const LoopbackHttpRequest&) {
    LoopbackHttpResponse response = Png();
    response.body.resize(response.body.size() / 3);  // cut short
    return response;
  });
  StartCdn();
  for (const wchar_t* id : {L"106", L"107"}) {
    GetAvatar(id, L"h");
    ASSERT_TRUE(WaitFor([&] { return !GetRenderer().avatars.IsDownloading(id); }, 20000));
    EXPECT_EQ(GetAvatar(id, L"h"), nullptr);
  }
  std::string log = ReadLog();
  EXPECT_NE(log.find("failed for user 106: body larger than 8388608 bytes"), std::string::npos) << log;
  EXPECT_NE(log.find("failed for user 107: not an image"), std::string::npos) << log;
}

TEST_F(AvatarCacheTest, ShutdownDoesNotWaitForTransfersAndTheyEndHarmlessly) {
  std::atomic<bool> answered{false};
  cdn_.Route("GET", "/avatars/*", [&](const LoopbackHttpRequest&) {
    Sleep(2000);
    answered = true;
    return Png();
  });
  StartCdn();
  GetAvatar(L"108", L"slow");
  ASSERT_TRUE(WaitFor([&] { return cdn_.RequestCount() == 1; }, 5000));

  ULONGLONG start = GetTickCount64();
  RendererShutdown();
  EXPECT_LT(GetTickCount64() - start, 1000u);
  EXPECT_EQ(GetAvatar(L"108", L"slow"), nullptr);  // closed: no new downloads
  EXPECT_EQ(cdn_.RequestCount(), 1);

  // The late answer arrives with GDI+ stopped; then a fresh start works.
  ASSERT_TRUE(WaitFor([&] { return answered.load(); }, 10000));
  Sleep(500);
  ASSERT_TRUE(RendererInitialize());
  ASSERT_TRUE(WaitFor([&] { return GetAvatar(L"108", L"slow") != nullptr; }, 10000));
  EXPECT_EQ(cdn_.RequestCount(), 2);
}

}  // namespace
