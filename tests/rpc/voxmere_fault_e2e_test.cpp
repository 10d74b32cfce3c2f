// Voxmere.exe against a discord_sim.exe that misbehaves: the shipped "faults"
// scenario, whose faults meet each new connection in turn; an unanswered
// handshake; the simulator killed in the middle of a frame; a Discord that
// stops reading. The message window keeps answering throughout, and each
// time Voxmere reconnects.
// Needs a display.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "tests/support/discord_sim_process.h"
#include "tests/support/voxmere_instance.h"

namespace {

const char* const kScenario = R"(user 100000000000000001 alice global=Alice
channel 300000000000000001 General
member 100000000000000001 alice global=Alice
member 100000000000000002 bob global=Bob
select 300000000000000001
)";

// The one fault that holds the user-interface thread for long: a connect
// attempt waits 2 s for the handshake's answer.
constexpr DWORD kStalledAnswerBoundMs = 3000;
constexpr DWORD kAnswerBoundMs = 1000;

// The message window's slowest answer to WM_NULL, asked every 100 ms from a
// thread of its own until Stop.
class UiWatch {
 public:
  explicit UiWatch(HWND window) : thread_([this, window] { Run(window); }) {}
  ~UiWatch() { Stop(); }
  DWORD Stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    return slowest_;
  }

 private:
  void Run(HWND window) {
    while (!done_) {
      DWORD_PTR ignored = 0;
      const ULONGLONG asked = GetTickCount64();
      const bool answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored) != 0;
      const DWORD took = answered ? static_cast<DWORD>(GetTickCount64() - asked) : 10000;
      slowest_ = std::max<DWORD>(slowest_, took);
      Sleep(100);
    }
  }

  std::atomic<bool> done_{false};
  std::atomic<DWORD> slowest_{0};
  std::thread thread_;
};

class VoxmereFaultE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(voxmere_.Ready()) << "Voxmere.exe must be built beside the test";
    Config config = TestConfig();
    config.client_secret = L"FaultSecret";
    ASSERT_TRUE(voxmere_.WriteConfig(config));
  }

  std::wstring ScenarioFile(const std::wstring& name, const std::string& text) {
    EXPECT_TRUE(voxmere_.WriteFile(name, text));
    return L"--scenario \"" + voxmere_.PathOf(name) + L"\"";
  }

  bool StartVoxmere(const std::string& base) {
    return voxmere_.Start({{L"VOXMERE_API_BASE", WidenAscii(base)}, {L"VOXMERE_CDN_BASE", WidenAscii(base)}}) &&
           WaitFor([&] { return voxmere_.MessageWindow() != nullptr; }, 20000);
  }

  void TearDown() override {
    if (HasFailure())
      for (const std::string& line : voxmere_.Log()) std::printf("LOG %s\n", line.c_str());
  }

  VoxmereInstance voxmere_{L"voxmere_rpc_fault_e2e"};
};

int PortOf(const std::string& base) { return std::atoi(base.substr(base.rfind(':') + 1).c_str()); }

}  // namespace

TEST_F(VoxmereFaultE2eTest, EachFaultOfTheFaultsScenarioEndsInAReconnect) {
  ChildProcess sim;
  const std::string base = StartDiscordSim(sim, L"--scenario faults");
  ASSERT_FALSE(base.empty());
  ASSERT_TRUE(StartVoxmere(base));
  UiWatch watch(voxmere_.MessageWindow());
  ASSERT_TRUE(voxmere_.WaitLogged("[IPC] Authentication successful!", 1, 30000));
  EXPECT_TRUE(voxmere_.WaitLogged("[IPC] ERROR: Frame payload is not JSON (16 bytes), ignored", 1, 10000));

  const char* const faults[] = {
      "[IPC] ERROR: Pipe closed while reading a frame, disconnecting",
      "[IPC] Received CLOSE frame",
      "[IPC] ERROR: Frame payload too large (792477292 bytes), disconnecting",
      "[IPC] ERROR: Frame payload too large (4294967295 bytes), disconnecting",
  };
  size_t sessions = 1;
  for (const char* line : faults) {
    EXPECT_TRUE(voxmere_.WaitLogged(line, 1, 10000)) << line;
    EXPECT_TRUE(voxmere_.WaitLogged("[IPC] Authentication successful!", ++sessions, 15000)) << "no reconnect after " << line;
  }
  // The text that is not JSON cost no connection.
  EXPECT_EQ(sim.Lines("DISCONNECTED").size(), 4u);

  const DWORD slowest = watch.Stop();
  EXPECT_LT(slowest, kAnswerBoundMs);
  std::printf("faults scenario: slowest answer of the message window %lu ms\n", slowest);
  EXPECT_EQ(voxmere_.Exit(), 0);
}

TEST_F(VoxmereFaultE2eTest, UnansweredHandshakeKilledMidFrameThenHung) {
  ChildProcess silent;
  const std::string base = StartDiscordSim(silent, ScenarioFile(L"silent.txt", "handshake silent\n"));
  ASSERT_FALSE(base.empty());
  ASSERT_TRUE(StartVoxmere(base));
  UiWatch watch(voxmere_.MessageWindow());
  // Each attempt, 5 s apart, gives up after the 2 s wait.
  ASSERT_TRUE(voxmere_.WaitLogged("[IPC] ERROR: No complete frame within 2000 ms, disconnecting", 2, 20000));
  EXPECT_GE(voxmere_.Log("[IPC] ERROR: Handshake failed").size(), 2u);

  // Discord restarts and dies in the middle of an event frame.
  silent.Kill();
  ChildProcess cut;
  const std::wstring cutScenario =
      ScenarioFile(L"cut.txt", std::string(kScenario) +
                                   "timeline\nwait 500\ncut_frame {\"cmd\":\"DISPATCH\",\"data\":{\"channel_id\":"
                                   "\"300000000000000001\",\"user_id\":\"100000000000000002\"},\"evt\":"
                                   "\"SPEAKING_START\",\"nonce\":null}\n");
  ASSERT_EQ(StartDiscordSim(cut, cutScenario, PortOf(base)), base);
  ASSERT_TRUE(voxmere_.WaitLogged("[IPC] Authentication successful!", 1, 15000));
  ASSERT_TRUE(WaitFor([&] { return !cut.Lines("SEND raw").empty(); }, 5000));
  Sleep(500);  // Voxmere has read the header and half the payload, and waits for the rest
  cut.Kill();
  EXPECT_TRUE(voxmere_.WaitLogged("[IPC] ERROR: Pipe closed while reading a frame, disconnecting", 1, 5000));

  // Then it hangs, and its pipe buffer fills with our answer to its ping.
  ChildProcess hung;
  const std::string hangs = std::string(kScenario) + "timeline\nwait 500\nstall 3000\nping " + std::string(2000, 'x');
  ASSERT_EQ(StartDiscordSim(hung, ScenarioFile(L"hung.txt", hangs), PortOf(base)), base);
  EXPECT_TRUE(voxmere_.WaitLogged("[IPC] Authentication successful!", 2, 15000));
  EXPECT_TRUE(voxmere_.WaitLogged("[IPC] ERROR: Write of 2008 bytes to Discord stalled for 500 ms, disconnecting", 1,
                                  10000));
  EXPECT_TRUE(voxmere_.WaitLogged("[IPC] Authentication successful!", 3, 20000));

  const DWORD slowest = watch.Stop();
  EXPECT_LT(slowest, kStalledAnswerBoundMs);
  std::printf("unanswered handshake, killed mid-frame, hung: slowest answer of the message window %lu ms\n", slowest);
  EXPECT_EQ(voxmere_.Exit(), 0);
}
