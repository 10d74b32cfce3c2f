// Voxmere.exe against discord_sim.exe (pipe and token endpoint): a session
// through to the member list, surviving Discord's death, and token endpoint
// failures. Needs a display.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/discord_sim_process.h"
#include "tests/support/voxmere_instance.h"

namespace {

const char* const kScenario = R"(user 100000000000000001 alice global=Alice avatar=a1c3e5f7
channel 300000000000000001 General
member 100000000000000001 alice global=Alice avatar=a1c3e5f7
member 100000000000000002 bob global=Bob nick=Bobby self_mute avatar=b0b0b0b0
member 100000000000000003 carol deaf
member 100000000000000005 tunebot bot
select 300000000000000001
)";

class VoxmereE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(voxmere_.Ready()) << "Voxmere.exe must be built beside the test";
    Config config = TestConfig();
    config.client_secret = L"E2eSecret42";
    ASSERT_TRUE(voxmere_.WriteConfig(config));
    ASSERT_TRUE(voxmere_.WriteFile(L"scenario.txt", kScenario));
  }

  std::string StartSim(ChildProcess& sim, const std::string& tokenMode, int port = 0) {
    return StartDiscordSim(sim, L"--scenario \"" + voxmere_.PathOf(L"scenario.txt") + L"\" --token-mode " +
                                    WidenAscii(tokenMode), port);
  }

  bool StartVoxmere(const std::string& base) {
    return voxmere_.Start({{L"VOXMERE_API_BASE", WidenAscii(base)}, {L"VOXMERE_CDN_BASE", WidenAscii(base)}});
  }

  VoxmereInstance voxmere_{L"voxmere_rpc_e2e"};
};

}  // namespace

TEST_F(VoxmereE2eTest, SessionSurvivesTheSimulatorDying) {
  ChildProcess sim;
  const std::string base = StartSim(sim, "ok");
  ASSERT_FALSE(base.empty());
  ASSERT_TRUE(StartVoxmere(base));
  ASSERT_TRUE(voxmere_.WaitLogged("[IPC] Authentication successful!", 1, 30000));
  ASSERT_TRUE(voxmere_.WaitLogged("[IPC] Found 4 users in voice channel", 1));
  EXPECT_EQ(voxmere_.Log("[IPC] Added user: Bobby").size(), 1u);
  EXPECT_EQ(voxmere_.Log("[IPC] Added user: tunebot [BOT]").size(), 1u);
  auto authorize = sim.Lines("RECV op=1 {\"cmd\":\"AUTHORIZE\"");
  ASSERT_EQ(authorize.size(), 1u);
  EXPECT_NE(authorize[0].find("\"nonce\":\"1\"}"), std::string::npos);
  EXPECT_EQ(sim.Lines("RECV op=1 {\"cmd\":\"SUBSCRIBE\"").size(), 6u);
  EXPECT_TRUE(WaitFor([&] { return !sim.Lines("HTTP GET /avatars/100000000000000002/b0b0b0b0.png").empty(); },
                      15000));

  // Discord dies; once it is back the loop reconnects within its 5 s cadence,
  // keeping the token endpoint it was started with (same port).
  sim.Kill();
  ASSERT_TRUE(voxmere_.WaitLogged("[IPC] ERROR: Failed to open pipe", 1, 15000));
  ChildProcess again;
  ASSERT_EQ(StartSim(again, "ok", std::atoi(base.substr(base.rfind(':') + 1).c_str())), base);
  const ULONGLONG restarted = GetTickCount64();
  ASSERT_TRUE(voxmere_.WaitLogged("[IPC] Handshake successful", 2, 15000));
  EXPECT_LT(GetTickCount64() - restarted, 7000u);
  ASSERT_TRUE(voxmere_.WaitLogged("[IPC] Authentication successful!", 2));
  // Nonces go on across the reconnect.
  auto second = again.Lines("RECV op=1 {\"cmd\":\"AUTHORIZE\"");
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0].find("\"nonce\":\"1\"}"), std::string::npos);

  EXPECT_EQ(voxmere_.Exit(), 0);
  for (const std::string& line : voxmere_.Log()) EXPECT_EQ(line.find("SimAccessToken"), std::string::npos) << line;
}

TEST_F(VoxmereE2eTest, TokenEndpointFailuresStopBeforeAuthenticate) {
  const std::pair<const char*, const char*> cases[] = {
      {"error", "[IPC] Token exchange failed: invalid_grant - Invalid \\\"code\\\" in request."},
      {"notjson", "[IPC] Token exchange failed:  - "},
  };
  for (const auto& [mode, line] : cases) {
    ChildProcess sim;
    const std::string base = StartSim(sim, mode);
    ASSERT_FALSE(base.empty());
    ASSERT_TRUE(StartVoxmere(base));
    EXPECT_TRUE(voxmere_.WaitLogged(line, 1, 30000)) << mode;
    EXPECT_TRUE(voxmere_.Log("[IPC] Sending AUTHENTICATE request...").empty()) << mode;
    EXPECT_EQ(voxmere_.Exit(), 0);
    DeleteFileW(voxmere_.PathOf(L"debug.log").c_str());
  }
}
