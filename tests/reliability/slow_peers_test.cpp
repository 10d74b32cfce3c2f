// Voxmere.exe while the token endpoint or the CDN is slow (10 s) or resets
// every connection: the user-interface thread keeps answering and keeps
// draining notifications (so frames keep being pushed, from the same loop),
// and once the peer behaves again Voxmere authenticates or gets its avatars.
// A front on a loopback port stands between Voxmere and the simulator's web
// side and injects the faults.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "app/http_client.h"
#include "tests/reliability/peer_clients.h"
#include "tests/support/discord_sim_process.h"
#include "tests/support/voxmere_instance.h"
#include "tools/discord_sim/sim_web.h"
#include "tools/loopback_http/loopback_http_server.h"

namespace {

enum class Fault { None, Slow, Reset };
// Just past the HTTP client's 10 s receive time-out: a slow answer is a failed
// request, and what follows it is what the test checks.
constexpr uint32_t kSlowMs = 10500;
constexpr DWORD kFaultPhaseMs = kSlowMs + 1000;
// Longest the message window may take to answer during a fault.
constexpr DWORD kUiAnswerBoundMs = 500;

class FaultyFront {
 public:
  FaultyFront() {
    server_.Route("POST", "/api/oauth2/token", [this](const LoopbackHttpRequest& request) {
      LoopbackHttpResponse response = Faulted(tokenFault, tokenRequests);
      if (response.resetConnection) return response;
      HttpRequestSpec forward;
      forward.method = L"POST";
      forward.path = L"/api/oauth2/token";
      forward.headers = L"Content-Type: application/x-www-form-urlencoded";
      forward.body = request.body;
      HttpResult result = HttpFetch(*ParseHttpBase(SimBase()), forward);
      response.status = result.stage == HttpStage::Done ? 200 : 502;
      response.body = result.body;
      return response;
    });
    server_.Route("GET", "/avatars/*", [this](const LoopbackHttpRequest& request) {
      LoopbackHttpResponse response = Faulted(cdnFault, cdnRequests);
      if (response.resetConnection) return response;
      auto png = AvatarPng(request.path, request.query);
      response.status = png ? 200 : 404;
      response.contentType = "image/png";
      response.body = png ? *png : "";
      if (png && response.delayMs == 0) ++avatarsServed;
      return response;
    });
  }
  bool Start() { return server_.Start(); }
  std::string BaseUrl() const { return server_.BaseUrl(); }
  void SetSimBase(const std::string& base) {
    std::lock_guard<std::mutex> lock(mutex_);
    simBase_ = base;
  }

  std::atomic<Fault> tokenFault{Fault::None}, cdnFault{Fault::None};
  std::atomic<int> tokenRequests{0}, cdnRequests{0}, avatarsServed{0};

 private:
  static LoopbackHttpResponse Faulted(const std::atomic<Fault>& fault, std::atomic<int>& requests) {
    ++requests;
    LoopbackHttpResponse response;
    response.resetConnection = fault == Fault::Reset;
    response.delayMs = fault == Fault::Slow ? kSlowMs : 0;
    return response;
  }
  std::string SimBase() {
    std::lock_guard<std::mutex> lock(mutex_);
    return simBase_;
  }

  std::mutex mutex_;
  std::string simBase_;
  LoopbackHttpServer server_;
};

class SlowPeersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(front_.Start());
    StartSimulator();
    ASSERT_TRUE(voxmere_.Ready());
    Config config = TestConfig();
    config.client_secret = L"SlowPeersSecret";
    ASSERT_TRUE(voxmere_.WriteConfig(config));
  }

  void StartSimulator() {
    sim_ = std::make_unique<ChildProcess>();
    const std::string base = StartDiscordSim(*sim_, L"");
    ASSERT_FALSE(base.empty());
    front_.SetSimBase(base);
  }

  void StartVoxmere() {
    const std::wstring base = WidenAscii(front_.BaseUrl());
    ASSERT_TRUE(voxmere_.Start({{L"VOXMERE_API_BASE", base}, {L"VOXMERE_CDN_BASE", base}}));
    ASSERT_TRUE(voxmere_.WaitLogged("Notification server started", 1, 20000));
  }

  // For the fault phase: the slowest answer of the message window to a
  // message, sampled every 100 ms, while a notification a second goes in
  // over the pipe; all of them must have been drained by the end.
  DWORD WatchUiThread() {
    PipePeer pipe;
    EXPECT_TRUE(pipe.Open(L"\\\\.\\pipe\\VoxmereNotifications", 5000));
    const size_t drainedBefore = voxmere_.Log("Calling callback for notification").size();
    int sent = 0;
    DWORD slowest = 0;
    HWND window = voxmere_.MessageWindow();
    const ULONGLONG start = GetTickCount64();
    for (ULONGLONG now = start; now - start < kFaultPhaseMs; now = GetTickCount64()) {
      if ((now - start) / 1000 >= static_cast<ULONGLONG>(sent) && pipe.Send(TaggedNotification("ui", sent))) ++sent;
      DWORD_PTR ignored = 0;
      const ULONGLONG asked = GetTickCount64();
      if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored)) return 5000;
      slowest = std::max(slowest, static_cast<DWORD>(GetTickCount64() - asked));
      Sleep(100);
    }
    EXPECT_TRUE(WaitFor([&] { return voxmere_.Log("Calling callback for notification").size() >= drainedBefore + sent; },
                        2000))
        << "notifications sent during the fault were not drained";
    return slowest;
  }

  FaultyFront front_;
  std::unique_ptr<ChildProcess> sim_;
  VoxmereInstance voxmere_{L"reliability_slow_peers"};
};

TEST_F(SlowPeersTest, TokenEndpointSlowOrResetting) {
  for (Fault fault : {Fault::Slow, Fault::Reset}) {
    SCOPED_TRACE(fault == Fault::Slow ? "slow" : "resetting");
    front_.tokenFault = fault;
    const int requestsBefore = front_.tokenRequests;
    StartVoxmere();
    ASSERT_TRUE(WaitFor([&] { return front_.tokenRequests > requestsBefore; }, 20000)) << "no token request";
    const DWORD slowest = WatchUiThread();
    EXPECT_LT(slowest, kUiAnswerBoundMs) << "the token exchange held the user-interface thread";
    std::printf("token endpoint %s: slowest UI answer %lu ms\n", fault == Fault::Slow ? "slow" : "resetting", slowest);

    // Healthy again; the Discord client restarts, and the next connection
    // authorizes through the same endpoint.
    front_.tokenFault = Fault::None;
    const size_t authenticated = voxmere_.Log("[IPC] Authentication successful!").size();
    sim_.reset();
    StartSimulator();
    EXPECT_TRUE(voxmere_.WaitLogged("[IPC] Authentication successful!", authenticated + 1, 20000))
        << "no recovery after the token endpoint came back";
    EXPECT_EQ(voxmere_.Exit(), 0);
  }
}

TEST_F(SlowPeersTest, CdnSlowOrResetting) {
  for (Fault fault : {Fault::Slow, Fault::Reset}) {
    SCOPED_TRACE(fault == Fault::Slow ? "slow" : "resetting");
    front_.cdnFault = fault;
    const int requestsBefore = front_.cdnRequests;
    const int servedBefore = front_.avatarsServed;
    StartVoxmere();
    ASSERT_TRUE(voxmere_.WaitLogged("[IPC] Authentication successful!", 1, 20000));
    ASSERT_TRUE(WaitFor([&] { return front_.cdnRequests > requestsBefore; }, 20000)) << "no avatar request";
    const DWORD slowest = WatchUiThread();
    EXPECT_LT(slowest, kUiAnswerBoundMs);
    std::printf("CDN %s: slowest UI answer %lu ms\n", fault == Fault::Slow ? "slow" : "resetting", slowest);

    // Failed downloads are retried after a growing pause (2 s, then 4 s...).
    front_.cdnFault = Fault::None;
    EXPECT_TRUE(WaitFor([&] { return front_.avatarsServed > servedBefore; }, 20000))
        << "no avatar fetched after the CDN came back";
    EXPECT_EQ(voxmere_.Exit(), 0);
  }
}

}  // namespace
