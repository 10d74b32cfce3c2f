// Voxmere.exe against discord_sim.exe (pipe and token endpoint): a session
// through to the member list that goes on through a restart of the Discord
// client. Needs a display.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/discord_sim_process.h"
#include "tests/support/voxmere_instance.h"

namespace {

// Bob speaks when Discord restarts; Carol speaks on the new connection.
const char* const kScenario = R"(user 100000000000000001 alice global=Alice avatar=a1c3e5f7
channel 300000000000000001 General
member 100000000000000001 alice global=Alice avatar=a1c3e5f7
member 100000000000000002 bob global=Bob nick=Bobby self_mute avatar=b0b0b0b0
member 100000000000000003 carol deaf
member 100000000000000005 tunebot bot
select 300000000000000001
timeline
wait 1500
speak 100000000000000002 on
wait 500
restart
wait 2000
speak 100000000000000003 on
)";

}  // namespace

TEST(VoxmereE2eTest, SessionGoesOnThroughADiscordRestart) {
  VoxmereInstance voxmere{L"voxmere_rpc_e2e"};
  ASSERT_TRUE(voxmere.Ready()) << "Voxmere.exe must be built beside the test";
  Config config = TestConfig();
  config.client_secret = L"E2eSecret42";
  ASSERT_TRUE(voxmere.WriteConfig(config));
  ASSERT_TRUE(voxmere.WriteFile(L"scenario.txt", kScenario));
  ChildProcess sim;
  const std::string base = StartDiscordSim(sim, L"--scenario \"" + voxmere.PathOf(L"scenario.txt") + L"\"");
  ASSERT_FALSE(base.empty());
  const std::wstring wideBase = WidenAscii(base);
  ASSERT_TRUE(voxmere.Start({{L"VOXMERE_API_BASE", wideBase}, {L"VOXMERE_CDN_BASE", wideBase}}));
  ASSERT_TRUE(voxmere.WaitLogged("[IPC] Authentication successful!", 1, 30000));
  ASSERT_TRUE(voxmere.WaitLogged("[IPC] Found 4 users in voice channel", 1));
  EXPECT_EQ(voxmere.Log("[IPC] Added user: tunebot [BOT]").size(), 1u);
  EXPECT_TRUE(WaitFor([&] { return !sim.Lines("HTTP GET /avatars/100000000000000002/b0b0b0b0.png").empty(); },
                      15000));
  ASSERT_TRUE(voxmere.WaitLogged("[IPC] Updated speaking state for user: 100000000000000002 = true", 1));

  // Back within the 5 s reconnect cadence, authorized anew with nonces
  // going on, and subscribed again: the new connection has no subscriptions.
  ASSERT_TRUE(WaitFor([&] { return !sim.Lines("RESTARTED").empty(); }, 10000));
  const ULONGLONG restarted = GetTickCount64();
  ASSERT_TRUE(voxmere.WaitLogged("[IPC] Handshake successful", 2, 15000));
  EXPECT_LT(GetTickCount64() - restarted, 7000u);
  ASSERT_TRUE(voxmere.WaitLogged("[IPC] Updated speaking state for user: 100000000000000003 = true", 1, 15000));
  EXPECT_EQ(sim.Lines("RECV op=1 {\"cmd\":\"SUBSCRIBE\"").size(), 12u);
  EXPECT_EQ(sim.Lines("\"evt\":\"SPEAKING_START\",\"args\":{\"channel_id\":\"300000000000000001\"}").size(), 2u);
  auto authorize = sim.Lines("RECV op=1 {\"cmd\":\"AUTHORIZE\"");
  ASSERT_EQ(authorize.size(), 2u);
  EXPECT_EQ(authorize[1].find("\"nonce\":\"1\"}"), std::string::npos);

  EXPECT_EQ(voxmere.Exit(), 0);
  for (const std::string& line : voxmere.Log()) EXPECT_EQ(line.find("SimAccessToken"), std::string::npos) << line;
}
