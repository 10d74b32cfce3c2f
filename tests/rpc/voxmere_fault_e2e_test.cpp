// Voxmere.exe against discord_sim.exe (pipe and token endpoint) running the
// shipped "faults" scenario, whose faults meet each new connection in turn:
// each time Voxmere reconnects and authenticates again, and its message
// window keeps answering throughout. Needs a display.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "tests/support/discord_sim_process.h"
#include "tests/support/voxmere_instance.h"

TEST(VoxmereFaultE2eTest, EachFaultOfTheFaultsScenarioEndsInAReconnect) {
  VoxmereInstance voxmere{L"voxmere_rpc_fault_e2e"};
  ASSERT_TRUE(voxmere.Ready()) << "Voxmere.exe must be built beside the test";
  ASSERT_TRUE(voxmere.WriteConfig(TestConfig()));
  ChildProcess sim;
  const std::wstring base = WidenAscii(StartDiscordSim(sim, L"--scenario faults"));
  ASSERT_FALSE(base.empty());
  ASSERT_TRUE(voxmere.Start({{L"VOXMERE_API_BASE", base}, {L"VOXMERE_CDN_BASE", base}}));
  ASSERT_TRUE(WaitFor([&] { return voxmere.MessageWindow() != nullptr; }, 20000));

  // The message window's slowest answer to WM_NULL, asked at every look at the log.
  DWORD slowest = 0;
  auto waitLogged = [&](const char* line, size_t count, DWORD timeoutMs) {
    return WaitFor([&] {
      DWORD_PTR ignored = 0;
      const ULONGLONG asked = GetTickCount64();
      SendMessageTimeoutW(voxmere.MessageWindow(), WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);  // 10 s if hung
      slowest = std::max<DWORD>(slowest, static_cast<DWORD>(GetTickCount64() - asked));
      return voxmere.Log(line).size() >= count;
    }, timeoutMs);
  };
  ASSERT_TRUE(waitLogged("[IPC] Authentication successful!", 1, 30000));
  EXPECT_TRUE(waitLogged("[IPC] ERROR: Frame payload is not JSON (16 bytes), ignored", 1, 10000));
  const char* const faults[] = {
      "[IPC] ERROR: Pipe closed while reading a frame, disconnecting",
      "[IPC] Received CLOSE frame",
      "[IPC] ERROR: Frame payload too large (792477292 bytes), disconnecting",
      "[IPC] ERROR: Frame payload too large (4294967295 bytes), disconnecting",
  };
  size_t sessions = 1;
  for (const char* line : faults) {
    EXPECT_TRUE(waitLogged(line, 1, 10000)) << line;
    EXPECT_TRUE(waitLogged("[IPC] Authentication successful!", ++sessions, 15000)) << "no reconnect after " << line;
  }
  EXPECT_EQ(sim.Lines("DISCONNECTED").size(), 4u);  // the text that is not JSON cost no connection
  EXPECT_LT(slowest, 1000u);
  std::printf("faults scenario: slowest answer of the message window %lu ms\n", slowest);
  EXPECT_EQ(voxmere.Exit(), 0);
  for (const std::string& line : voxmere.Log()) EXPECT_EQ(line.find("SimAccessToken"), std::string::npos) << line;
}
