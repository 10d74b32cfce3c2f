// Voxmere.exe while the token endpoint, then the CDN, is slow (10.5 s, just
// past the HTTP client's 10 s time-out) or resets every connection: the
// user-interface thread keeps answering and draining notifications, and once
// the peer behaves again Voxmere authenticates or gets its avatars. Then the
// tray's Exit with every peer busy must end it with code 0 within 2 s. (Under
// Wine the prefix must keep Voxmere's and explorer's windows unmanaged, as
// wine-run.sh sets it up, or Wine's own 4 s wait for a window manager that
// Xvfb lacks is measured.) A front on a loopback port stands between Voxmere
// and the simulator's web side and injects the faults.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

#include "app/http_client.h"
#include "app/json.h"
#include "notify/notification_parse.h"
#include "tests/reliability/peer_clients.h"
#include "tests/support/discord_sim_process.h"
#include "tests/support/voxmere_instance.h"
#include "tools/discord_sim/sim_web.h"
#include "tools/loopback_http/loopback_http_server.h"

namespace {

enum Fault { kNone, kSlow, kReset };
const wchar_t kPipe[] = L"\\\\.\\pipe\\VoxmereNotifications";

struct FaultyFront {
  std::atomic<int> tokenFault{kNone}, cdnFault{kNone}, tokenRequests{0}, cdnRequests{0}, avatarsServed{0};
  std::mutex mutex;
  std::string simBase;  // the running simulator's web side, where tokens come from
  LoopbackHttpServer server;

  static LoopbackHttpResponse Faulted(int fault, std::atomic<int>& requests) {
    ++requests;
    LoopbackHttpResponse response;
    response.resetConnection = fault == kReset;
    response.delayMs = fault == kSlow ? 10500 : 0;
    return response;
  }
  std::string SimBase() {
    std::lock_guard<std::mutex> lock(mutex);
    return simBase;
  }
  bool Start() {
    server.Route("POST", "/api/oauth2/token", [this](const LoopbackHttpRequest& request) {
      LoopbackHttpResponse response = Faulted(tokenFault, tokenRequests);
      if (response.resetConnection) return response;
      HttpRequestSpec forward{L"POST", L"/api/oauth2/token", L"Content-Type: application/x-www-form-urlencoded",
                              request.body};
      const HttpResult result = HttpFetch(*ParseHttpBase(SimBase()), forward);
      response.status = result.stage == HttpStage::Done ? 200 : 502;
      response.body = result.body;
      return response;
    });
    server.Route("GET", "/avatars/*", [this](const LoopbackHttpRequest& request) {
      LoopbackHttpResponse response = Faulted(cdnFault, cdnRequests);
      const auto png = AvatarPng(request.path, request.query);
      response.status = png ? 200 : 404;
      response.contentType = "image/png";
      response.body = png.value_or("");
      avatarsServed += png && !response.resetConnection && response.delayMs == 0;
      return response;
    });
    return server.Start();
  }
};

std::string CardWithAvatar(int user) {
  NotificationData data;
  data.displayName = L"Sender " + std::to_wstring(user);
  data.content = L"hello";
  data.userId = L"40000000000000000" + std::to_wstring(user);
  data.avatarHash = L"0123456789abcdef0123456789abcde" + std::to_wstring(user);
  return FormatNotification(data);
}

class SlowPeersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    ASSERT_TRUE(front_.Start() && voxmere_.Ready());
    Config config = TestConfig();
    config.client_secret = L"SlowPeersSecret";
    ASSERT_TRUE(voxmere_.WriteConfig(config));
  }
  void TearDown() override { WSACleanup(); }

  // The Discord client (re)starts; Voxmere's next connection authorizes anew.
  void RestartSimulator() {
    sim_ = std::make_unique<ChildProcess>();
    const std::string base = StartDiscordSim(*sim_, L"");
    ASSERT_FALSE(base.empty());
    std::lock_guard<std::mutex> lock(front_.mutex);
    front_.simBase = base;
  }

  // The slowest answer of the message window, sampled every 100 ms through a
  // fault phase while a notification a second goes in over the pipe; all of
  // them must have been drained by the end.
  void ExpectUiAnswersThrough(const char* phase, const std::atomic<int>& requests, int requestsBefore) {
    SCOPED_TRACE(phase);
    ASSERT_TRUE(WaitFor([&] { return requests > requestsBefore; }, 20000)) << "no request reached the peer";
    PipePeer pipe;
    ASSERT_TRUE(pipe.Open(kPipe, 5000));
    const size_t drainedBefore = voxmere_.Log("Calling callback for notification").size();
    int sent = 0;
    DWORD slowest = 0;
    for (const ULONGLONG start = GetTickCount64(); GetTickCount64() - start < 11500; Sleep(100)) {
      if ((GetTickCount64() - start) / 1000 >= ULONGLONG(sent) && pipe.Send(TaggedNotification("ui", sent))) ++sent;
      DWORD_PTR ignored = 0;
      const ULONGLONG asked = GetTickCount64();
      ASSERT_TRUE(SendMessageTimeoutW(voxmere_.MessageWindow(), WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored));
      slowest = std::max(slowest, DWORD(GetTickCount64() - asked));
    }
    EXPECT_LT(slowest, 500u) << "the peer held the user-interface thread";
    EXPECT_TRUE(voxmere_.WaitLogged("Calling callback for notification", drainedBefore + sent, 2000));
    std::printf("%s: slowest UI answer %lu ms\n", phase, slowest);
  }

  FaultyFront front_;
  std::unique_ptr<ChildProcess> sim_;
  VoxmereInstance voxmere_{L"reliability_slow_peers"};
};

TEST_F(SlowPeersTest, UiAnswersWhilePeersFailRecoversAndExitsPromptlyWithEveryPeerBusy) {
  front_.tokenFault = kSlow;
  RestartSimulator();
  const std::wstring base = WidenAscii(front_.server.BaseUrl());
  ASSERT_TRUE(voxmere_.Start({{L"VOXMERE_API_BASE", base}, {L"VOXMERE_CDN_BASE", base}}));
  // The plugin's port, or the one the endpoint file names when a test running
  // beside this one holds it.
  ASSERT_TRUE(voxmere_.WaitLogged("[Endpoint] Wrote ", 1, 30000));
  const std::optional<Json> endpoint = ParseJson(voxmere_.ReadFile(L"endpoint.json"));
  const uint16_t port = endpoint ? static_cast<uint16_t>(JsonInt(*endpoint, "port", 0)) : 0;
  ASSERT_EQ(voxmere_.Log("WebSocket server listening on port " + std::to_string(port)).size(), 1u);
  ExpectUiAnswersThrough("token endpoint slow", front_.tokenRequests, 0);
  EXPECT_FALSE(voxmere_.Log("[IPC] ERROR: WinHttpReceiveResponse failed").empty()) << "waited past the time-out";
  front_.tokenFault = kReset;
  const int tokenRequests = front_.tokenRequests;
  RestartSimulator();
  ExpectUiAnswersThrough("token endpoint resetting", front_.tokenRequests, tokenRequests);
  // Healthy token endpoint; the CDN is slow, then resetting, for the avatars
  // that now follow (failed downloads are retried after 2 s, then 4 s...).
  front_.tokenFault = kNone;
  front_.cdnFault = kSlow;
  RestartSimulator();
  ASSERT_TRUE(voxmere_.WaitLogged("[IPC] Authentication successful!", 1, 20000)) << "no recovery of the token";
  ExpectUiAnswersThrough("CDN slow", front_.cdnRequests, 0);
  EXPECT_FALSE(voxmere_.Log("[Overlay] Avatar download failed for user 100000000000000001: no response").empty())
      << "waited past the time-out";
  front_.cdnFault = kReset;
  ExpectUiAnswersThrough("CDN resetting", front_.cdnRequests, front_.cdnRequests);
  front_.cdnFault = kNone;
  // Failures so far put the next try up to 16 s away.
  EXPECT_TRUE(WaitFor([&] { return front_.avatarsServed > 0; }, 40000)) << "no avatar after the CDN came back";

  // Exit with a silent pipe client, WebSocket clients (one in the middle of a
  // frame) and three avatar downloads held by the CDN.
  front_.cdnFault = kSlow;
  PipePeer silentPipe;
  WebSocketPeer sender, idle, midFrame;
  ASSERT_TRUE(silentPipe.Open(kPipe, 10000) && sender.Upgrade(port) && idle.Upgrade(port) && midFrame.Upgrade(port));
  const int cdnRequests = front_.cdnRequests;
  for (int user = 1; user <= 3; ++user) ASSERT_TRUE(sender.SendText(CardWithAvatar(user)));
  ASSERT_TRUE(midFrame.SendRaw(std::string("\x81\xFE\x01\x00\x01\x02\x03\x04half", 12)));
  ASSERT_TRUE(WaitFor([&] { return front_.cdnRequests >= cdnRequests + 3; }, 10000)) << "avatars not asked";
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(voxmere_.Exit(10000), 0);
  EXPECT_LT(GetTickCount64() - start, 2000u);
  EXPECT_EQ(voxmere_.Log("Notification server stopped").size(), 1u);
  std::printf("exit with every peer busy: %llu ms\n", GetTickCount64() - start);
}

}  // namespace
