// RpcClient against the in-process Discord simulator and token endpoint.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "rpc/rpc_frame.h"
#include "tests/rpc/rpc_sim_harness.h"
#include "tests/support/child_process.h"

namespace {

bool Speaking(const std::vector<VoiceUser>& users, const wchar_t* id) {
  const VoiceUser* user = FindUser(users, id);
  return user && user->speaking;
}

std::string MessageFrame(const char* text) {
  return EncodeRpcFrame(kOpFrame, std::string(R"({"cmd":"DISPATCH","data":{"content":")") + text +
                                      R"(","author":{"username":"bob"}},"evt":"MESSAGE_CREATE","nonce":null})");
}

}  // namespace

TEST_F(RpcSimTest, FullChainFromHandshakeToMemberList) {
  StartSim();
  ConnectAndAuthenticate();
  EXPECT_EQ(SimLines("RECV op=0 ")[0], "RECV op=0 {\"v\":1,\"client_id\":\"1180000000000000000\"}");
  EXPECT_EQ(SimLines("RECV op=1 {\"cmd\":\"AUTHORIZE\"")[0],
            "RECV op=1 {\"cmd\":\"AUTHORIZE\",\"args\":{\"client_id\":\"1180000000000000000\",\"scopes\":[\"rpc\","
            "\"rpc.voice.read\"]},\"nonce\":\"1\"}");
  auto requests = http.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].body.rfind("client_id=1180000000000000000&client_secret=TestSecret123"
                                   "&grant_type=authorization_code&code=SimCode", 0), 0u);
  EXPECT_NE(requests[0].headers.find("Content-Type: application/x-www-form-urlencoded"), std::string::npos);

  // The five channel subscriptions, in order, each with the next nonce.
  auto subscribes = SimLines("RECV op=1 {\"cmd\":\"SUBSCRIBE\"");
  ASSERT_EQ(subscribes.size(), 6u);
  EXPECT_EQ(subscribes[0], "RECV op=1 {\"cmd\":\"SUBSCRIBE\",\"evt\":\"VOICE_CHANNEL_SELECT\",\"nonce\":\"3\"}");
  const char* events[] = {"VOICE_STATE_CREATE", "VOICE_STATE_UPDATE", "VOICE_STATE_DELETE", "SPEAKING_START",
                          "SPEAKING_STOP"};
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(subscribes[i + 1], std::string("RECV op=1 {\"cmd\":\"SUBSCRIBE\",\"evt\":\"") + events[i] +
                                     "\",\"args\":{\"channel_id\":\"300000000000000001\"},\"nonce\":\"" +
                                     std::to_string(i + 5) + "\"}");

  const std::vector<VoiceUser>& users = lists.back();
  ASSERT_EQ(users.size(), 4u);
  EXPECT_EQ(users[0].avatarHash, L"a1c3");
  EXPECT_EQ(users[1].displayName, L"Bobby");
  EXPECT_TRUE(users[1].muted && !users[1].deafened);
  EXPECT_TRUE(users[2].deafened);
  EXPECT_TRUE(users[3].bot);

  auto log = LogLines();
  const char* order[] = {"[IPC] Pipe opened", "[IPC] Handshake successful", "[IPC] Got authorization code: SimCode1xQ...",
                         "[IPC] Token response: {\"token_type\":\"Bearer\",\"access_token\":\"[redacted]\"",
                         "[IPC] Authentication successful!", "[IPC] Joined voice channel: 300000000000000001",
                         "[IPC] Added user: tunebot [BOT]", "[IPC] Found 4 users in voice channel"};
  auto at = log.begin();
  for (const char* line : order) {
    at = std::find_if(at, log.end(), [&](const std::string& l) { return l.rfind(line, 0) == 0; });
    EXPECT_NE(at, log.end()) << line;
  }
  for (const std::string& line : log) EXPECT_EQ(line.find("SimAccessToken"), std::string::npos) << line;
}

TEST_F(RpcSimTest, EventsSwitchesMessagesAndPings) {
  StartSim();
  ConnectAndAuthenticate();
  auto waitList = [&](const std::function<bool(const std::vector<VoiceUser>&)>& check) {
    return PollUntil([&] { return !lists.empty() && check(lists.back()); }, 5000);
  };
  sim->Inject("speak 100000000000000003 on");
  EXPECT_TRUE(waitList([](auto& u) { return Speaking(u, L"100000000000000003"); }));
  sim->Inject("join 100000000000000007 frank global=Frank");
  EXPECT_TRUE(waitList([](auto& u) { return u.size() == 5 && u[4].id == L"100000000000000007"; }));
  sim->Inject("leave 100000000000000002");
  EXPECT_TRUE(waitList([](auto& u) { return u.size() == 4 && !FindUser(u, L"100000000000000002"); }));
  // Speaking survives a snapshot, which gives Frank his full record.
  sim->Inject("switch 300000000000000001");
  EXPECT_TRUE(waitList([](auto& u) { return FindUser(u, L"100000000000000007")->displayName == L"Frank"; }));
  EXPECT_TRUE(Speaking(lists.back(), L"100000000000000003"));
  EXPECT_EQ(SimLines("\"evt\":\"SPEAKING_START\",\"args\"").size(), 1u);  // same channel: nothing new

  sim->Inject("switch 300000000000000002");
  EXPECT_TRUE(waitList([](auto& u) { return u.size() == 1 && u[0].id == L"100000000000000006"; }));
  sim->Inject("leave_channel");
  EXPECT_TRUE(waitList([](auto& u) { return u.empty(); }));
  sim->Inject("switch 300000000000000001");  // coming back subscribes again
  EXPECT_TRUE(PollUntil([&] { return SimLines("\"channel_id\":\"300000000000000001\"},\"nonce\"").size() == 10; }));

  sim->Inject("message bob \"see you at eight\"");
  sim->Inject("ping abcdefg");
  ASSERT_TRUE(PollUntil([&] { return !messages.empty() && !SimLines("RECV op=4").empty(); }, 5000));
  EXPECT_EQ(messages[0], std::make_pair(std::wstring(L"bob"), std::wstring(L"see you at eight")));
  EXPECT_EQ(SimLines("RECV op=4")[0], "RECV op=4 abcdefg");
}

// Discord forgets a connection's subscriptions, and sends no SPEAKING_STOP
// for the speakers of a connection that is gone.
TEST_F(RpcSimTest, RestartMidSessionSubscribesAgainAndEndsSpeaking) {
  StartSim();
  ConnectAndAuthenticate();
  sim->Inject("speak 100000000000000002 on");
  ASSERT_TRUE(PollUntil([&] { return Speaking(lists.back(), L"100000000000000002"); }));
  sim->Inject("restart");
  ASSERT_TRUE(PollUntil([&] { return !client->IsConnected(); }, 5000));
  EXPECT_FALSE(Speaking(lists.back(), L"100000000000000002"));
  ASSERT_TRUE(sim->WaitForLines("RESTARTED", 1, 5000));
  ASSERT_TRUE(ConnectClient());
  ASSERT_TRUE(PollUntil([&] { return SimLines("\"evt\":\"SPEAKING_START\",\"args\"").size() == 2; }));
  EXPECT_EQ(SimLines("RECV op=1 {\"cmd\":\"SUBSCRIBE\",\"evt\":\"VOICE_CHANNEL_SELECT\"").size(), 2u);
  EXPECT_TRUE(PollUntil([&] { return CountLogged("[IPC] SUBSCRIBE response received") == 12; }));
  sim->Inject("speak 100000000000000003 on");
  EXPECT_TRUE(PollUntil([&] { return Speaking(lists.back(), L"100000000000000003"); }));
  EXPECT_FALSE(Speaking(lists.back(), L"100000000000000002"));
}

TEST_F(RpcSimTest, ReconnectAuthorizesAgainAndNoncesContinue) {
  // The first AUTHORIZE is never answered; the connection then drops.
  StartSim(std::string(kTestScenario) + "authorize silent\n");
  ASSERT_TRUE(ConnectClient());
  ASSERT_TRUE(sim->WaitForLines("\"nonce\":\"1\"}", 1, 2000));
  sim->DropClient();
  ASSERT_TRUE(PollUntil([&] { return !client->IsConnected(); }, 5000));
  ASSERT_TRUE(sim->WaitForLines("DISCONNECTED", 1, 2000));
  ASSERT_TRUE(ConnectClient());
  ASSERT_TRUE(sim->WaitForLines("RECV op=1 {\"cmd\":\"AUTHORIZE\"", 2, 2000));
  EXPECT_NE(SimLines("RECV op=1 {\"cmd\":\"AUTHORIZE\"")[1].find("\"nonce\":\"2\"}"), std::string::npos);
}

TEST_F(RpcSimTest, OnlyPipeThreeExists) {
  EXPECT_FALSE(ConnectClient());
  EXPECT_TRUE(Logged("[IPC] ERROR: Failed to open pipe"));
  StartSim(kTestScenario, 3);
  EXPECT_TRUE(ConnectClient());
  EXPECT_TRUE(client->IsConnected());
}

TEST_F(RpcSimTest, FramesArriveWholeHoweverTheBytesAreCut) {
  StartSim();
  ConnectAndAuthenticate();
  const std::string two = MessageFrame("one") + MessageFrame("two");
  sim->SendRaw(two.substr(0, two.size() / 2 + 3));
  ASSERT_TRUE(PollUntil([&] { return messages.size() == 1; }, 5000));
  sim->SendRaw(two.substr(two.size() / 2 + 3) + MessageFrame("three"));
  ASSERT_TRUE(PollUntil([&] { return messages.size() == 3; }, 5000));
  EXPECT_EQ(messages[2].second, L"three");
  EXPECT_TRUE(client->IsConnected());
}

// Each failure on the way to a token: its line, no AUTHENTICATE, nothing
// asked of the channel, the connection kept.
TEST_F(RpcSimTest, AuthorizationFailuresAreLogged) {
  struct Case {
    const char* scenarioLine;
    SimTokenMode mode;
    const wchar_t* secret;
    bool tokenRequested;
    const char* line;
  };
  const Case cases[] = {
      {"", SimTokenMode::Error, L"s", true, "[IPC] Token exchange failed: invalid_grant - Invalid \\\"code\\\" in request."},
      {"", SimTokenMode::NotJson, L"s", true, "[IPC] Token exchange failed:  - "},
      {"", SimTokenMode::Ok, L"", false, "[IPC] Please set your Discord app's client_secret to enable voice channel access"},
      {"authorize deny", SimTokenMode::Ok, L"s", false,
       "[IPC] AUTHORIZE error: OAuth2 Error: access_denied: The resource owner or authorization server denied the "
       "request"},
      {"authenticate reject", SimTokenMode::Ok, L"s", true, "[IPC] AUTHENTICATE error: Invalid access token"},
  };
  for (const Case& c : cases) {
    tokenMode = c.mode;
    client->clientSecret = c.secret;
    const int requestsBefore = http.RequestCount();
    StartSim(std::string(kTestScenario) + c.scenarioLine + "\n");
    ASSERT_TRUE(ConnectClient());
    EXPECT_TRUE(PollUntilLogged(c.line)) << c.line;
    PollUntil([] { return false; }, 300);
    EXPECT_TRUE(SimLines("\"cmd\":\"SUBSCRIBE\"").empty()) << c.line;
    EXPECT_TRUE(lists.empty()) << c.line;
    EXPECT_EQ(http.RequestCount() > requestsBefore, c.tokenRequested) << c.line;
    EXPECT_TRUE(client->IsConnected());
    client->Disconnect();
    sim->Stop();
  }
}

TEST_F(RpcSimTest, TokenExchangeDoesNotBlockPolling) {
  tokenDelayMs = 1500;
  std::atomic<int> wakes{0};
  client->onWake = [&] { ++wakes; };
  StartSim();
  ASSERT_TRUE(ConnectClient());
  ASSERT_TRUE(PollUntilLogged("[IPC] Exchanging code for access token..."));
  ULONGLONG longest = 0;
  const ULONGLONG start = GetTickCount64();
  while (!Logged("[IPC] Got access token!") && GetTickCount64() - start < 10000) {
    const ULONGLONG before = GetTickCount64();
    client->Poll();
    longest = std::max(longest, GetTickCount64() - before);
    Sleep(5);
  }
  EXPECT_GE(GetTickCount64() - start, 1000u);
  EXPECT_LT(longest, 200u);
  EXPECT_TRUE(PollUntilLogged("[IPC] Authentication successful!"));
  EXPECT_GT(wakes, 0);
}

TEST_F(RpcSimTest, DestructionWhileTheExchangeRunsIsBounded) {
  tokenDelayMs = 20000;
  StartSim();
  ASSERT_TRUE(ConnectClient());
  ASSERT_TRUE(PollUntilLogged("[IPC] Exchanging code for access token..."));
  const ULONGLONG before = GetTickCount64();
  client.reset();
  EXPECT_LT(GetTickCount64() - before, 4000u);
}

TEST_F(RpcSimTest, TokenForALostConnectionIsDropped) {
  tokenDelayMs = 1000;
  StartSim();
  ASSERT_TRUE(ConnectClient());
  ASSERT_TRUE(PollUntilLogged("[IPC] Exchanging code for access token..."));
  sim->DropClient();
  ASSERT_TRUE(PollUntil([&] { return !client->IsConnected(); }, 5000));
  tokenDelayMs = 0;
  ASSERT_TRUE(WaitFor([&] { return ConnectClient(); }, 5000));
  ASSERT_TRUE(PollUntilLogged("[IPC] Authentication successful!"));
  EXPECT_EQ(SimLines("RECV op=1 {\"cmd\":\"AUTHENTICATE\"").size(), 1u);
}
