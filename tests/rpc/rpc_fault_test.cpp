// RpcClient against a simulator that breaks the connection: each fault ends
// in a disconnect with its own log line, holds the caller no longer than the
// frame wait, allocates nothing for a declared length, and the next
// connection authenticates again.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

#include "rpc/rpc_frame.h"
#include "tests/rpc/largest_allocation.h"
#include "tests/rpc/rpc_sim_harness.h"
#include "tests/support/child_process.h"

namespace {

constexpr ULONGLONG kFrameWaitBoundMs = 2500;  // the client's 2 s frame wait and some slack
// Far below a declared 16 MiB or 4 GiB, far above any real frame.
constexpr size_t kAllocationBound = 1024 * 1024;

const char* const kSpeakingEvent =
    R"({"cmd":"DISPATCH","data":{"channel_id":"300000000000000001","user_id":"100000000000000002"},)"
    R"("evt":"SPEAKING_START","nonce":null})";

struct Fault {
  const char* name;
  std::string steps;  // timeline steps, run a second after authentication
  const char* logLine;
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.name; }

class RpcFaultTest : public RpcSimTest, public ::testing::WithParamInterface<Fault> {};

}  // namespace

TEST_P(RpcFaultTest, DisconnectsLogsAndReconnects) {
  const Fault& fault = GetParam();
  StartSim(std::string(kTestScenario) + "timeline\nwait 1000\n" + fault.steps + "\n");
  ConnectAndAuthenticate();
  g_largestAllocation = 0;

  ULONGLONG longestPoll = 0;
  for (ULONGLONG start = GetTickCount64(); client->IsConnected() && GetTickCount64() - start < 10000; Sleep(1)) {
    const ULONGLONG before = GetTickCount64();
    client->Poll();
    longestPoll = std::max(longestPoll, GetTickCount64() - before);
  }
  ASSERT_FALSE(client->IsConnected());
  EXPECT_EQ(CountLogged(fault.logLine), 1u);
  EXPECT_LT(longestPoll, kFrameWaitBoundMs);
  EXPECT_LT(g_largestAllocation, kAllocationBound);

  // The timeline has no more faults: the next connection is a healthy one,
  // once the simulator has let go of the last.
  ASSERT_TRUE(WaitFor([&] { return ConnectClient(); }, 5000));
  EXPECT_TRUE(PollUntil([&] { return CountLogged("[IPC] Authentication successful!") == 2; }));
  EXPECT_TRUE(client->IsConnected());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RpcFaultTest,
    ::testing::Values(
        Fault{"KilledMidFrame", std::string("cut_frame ") + kSpeakingEvent + "\nwait 300\ndrop",
              "[IPC] ERROR: Pipe closed while reading a frame, disconnecting"},
        Fault{"StalledMidFrame", std::string("cut_frame ") + kSpeakingEvent,
              "[IPC] ERROR: No complete frame within 2000 ms, disconnecting"},
        Fault{"GoneBetweenFrames", "drop", "[IPC] Pipe closed by Discord, disconnected"},
        Fault{"CloseFrame", "close", "[IPC] Received CLOSE frame"},
        // "<html></html>" where a header belongs: length "l></".
        Fault{"TextInsteadOfAHeader", "bytes 3c68746d6c3e3c2f68746d6c3e",
              "[IPC] ERROR: Frame payload too large (792477292 bytes), disconnecting"},
        Fault{"LengthJustOverTheBound", "bytes 0100000001000001",
              "[IPC] ERROR: Frame payload too large (16777217 bytes), disconnecting"},
        // Discord hangs: its pipe buffer fills with our answer to its ping.
        Fault{"PeerStopsReading", "stall 3000\nping " + std::string(2000, 'x'),
              "[IPC] ERROR: Write of 2008 bytes to Discord stalled for 500 ms, disconnecting"}),
    [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

TEST_F(RpcSimTest, UnusableFramesAreSkippedAndTheSessionGoesOn) {
  StartSim();
  ConnectAndAuthenticate();
  sim->SendRaw(EncodeRpcFrame(kOpPong, "stray") + EncodeRpcFrame(kOpHandshake, "{}") + EncodeRpcFrame(7, "{}"));
  sim->Inject("raw this is not json");
  sim->Inject("raw");
  sim->Inject("message bob \"still here\"");
  ASSERT_TRUE(PollUntil([&] { return !messages.empty(); }, 5000));
  EXPECT_EQ(messages[0].second, L"still here");
  EXPECT_TRUE(client->IsConnected());
  EXPECT_TRUE(Logged("[IPC] ERROR: Frame payload is not JSON (16 bytes), ignored"));
  EXPECT_TRUE(Logged("[IPC] ERROR: Frame payload is not JSON (0 bytes), ignored"));
  EXPECT_TRUE(Logged("[IPC] Unknown frame opcode 7 (2 bytes), ignored"));
  EXPECT_FALSE(Logged("disconnect"));
}

TEST_F(RpcSimTest, UnansweredHandshakeEndsTheConnectInTime) {
  StartSim(std::string(kTestScenario) + "handshake silent\n");
  const ULONGLONG start = GetTickCount64();
  EXPECT_FALSE(ConnectClient());
  const ULONGLONG took = GetTickCount64() - start;
  EXPECT_GE(took, 1900u);
  EXPECT_LT(took, kFrameWaitBoundMs);
  EXPECT_EQ(SimLines("RECV op=0 ").size(), 1u);
  EXPECT_TRUE(Logged("[IPC] ERROR: No complete frame within 2000 ms, disconnecting"));
  EXPECT_TRUE(Logged("[IPC] ERROR: Handshake failed"));
  EXPECT_FALSE(client->IsConnected());

  // Discord answers again (restarted): the next attempt goes through.
  sim->Stop();
  StartSim();
  ConnectAndAuthenticate();
}
