// RpcClient against the in-process Discord simulator and token endpoint.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "rpc/rpc_frame.h"
#include "tests/rpc/rpc_sim_harness.h"

namespace {

std::vector<std::string> LinesFrom(const std::vector<std::string>& lines, const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : lines)
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
  return found;
}

// Index of the first log line starting with text; -1 when none.
int LineIndex(const std::vector<std::string>& lines, const std::string& text) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].rfind(text, 0) == 0) return static_cast<int>(i);
  return -1;
}

}  // namespace

TEST_F(RpcSimTest, FullChainFromHandshakeToMemberList) {
  StartSim();
  ConnectAndAuthenticate();

  auto authorize = SimLines("RECV op=1 {\"cmd\":\"AUTHORIZE\"");
  ASSERT_EQ(authorize.size(), 1u);
  EXPECT_EQ(authorize[0],
            "RECV op=1 {\"cmd\":\"AUTHORIZE\",\"args\":{\"client_id\":\"1180000000000000000\",\"scopes\":[\"rpc\","
            "\"rpc.voice.read\"]},\"nonce\":\"1\"}");
  EXPECT_EQ(SimLines("RECV op=0 ")[0], "RECV op=0 {\"v\":1,\"client_id\":\"1180000000000000000\"}");

  auto requests = http.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].body.rfind("client_id=1180000000000000000&client_secret=TestSecret123"
                                   "&grant_type=authorization_code&code=SimCode",
                                   0),
            0u);
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
  EXPECT_EQ(users[0].displayName, L"Alice");
  EXPECT_EQ(users[0].avatarHash, L"a1c3");
  EXPECT_EQ(users[1].displayName, L"Bobby");
  EXPECT_TRUE(users[1].muted);
  EXPECT_FALSE(users[1].deafened);
  EXPECT_TRUE(users[2].deafened);
  EXPECT_EQ(users[2].displayName, L"");
  EXPECT_TRUE(users[3].bot);

  auto log = LogLines();
  const char* order[] = {"[IPC] Connecting to Discord...", "[IPC] Pipe opened", "[IPC] Handshake successful",
                         "[IPC] Sending AUTHORIZE request...", "[IPC] Got authorization code: SimCode1xQ...",
                         "[IPC] Exchanging code for access token...", "[IPC] Token response: ",
                         "[IPC] Got access token!", "[IPC] Sending AUTHENTICATE request...",
                         "[IPC] Authentication successful!", "[IPC] Subscribing to voice events...",
                         "[IPC] Joined voice channel: 300000000000000001",
                         "[IPC] Subscribed to SPEAKING_STOP for channel", "[IPC] Added user: Bobby",
                         "[IPC] Added user: tunebot [BOT]", "[IPC] Found 4 users in voice channel"};
  int previous = -1;
  for (const char* line : order) {
    int at = LineIndex(log, line);
    EXPECT_GT(at, previous) << line;
    previous = at;
  }
}

TEST_F(RpcSimTest, NoTokenReachesTheLog) {
  StartSim();
  ConnectAndAuthenticate();
  std::string token = SimLines("RECV op=1 {\"cmd\":\"AUTHENTICATE\"")[0];
  ASSERT_NE(token.find("SimAccessToken"), std::string::npos);
  auto log = LogLines();
  auto tokenLines = LinesFrom(log, "[IPC] Token response: ");
  ASSERT_EQ(tokenLines.size(), 1u);
  EXPECT_NE(tokenLines[0].find("\"token_type\":\"Bearer\",\"access_token\":\"[redacted]\""), std::string::npos);
  for (const std::string& line : log) {
    EXPECT_EQ(line.find("SimAccessToken"), std::string::npos) << line;
    EXPECT_EQ(line.find("SimRefreshToken"), std::string::npos) << line;
  }
}

TEST_F(RpcSimTest, EventsChangeTheList) {
  StartSim();
  ConnectAndAuthenticate();
  auto waitList = [&](const std::function<bool(const std::vector<VoiceUser>&)>& check) {
    return PollUntil([&] { return !lists.empty() && check(lists.back()); }, 5000);
  };
  sim->Inject("speak 100000000000000003 on");
  EXPECT_TRUE(waitList([](auto& u) { return FindUser(u, L"100000000000000003")->speaking; }));
  sim->Inject("mute 100000000000000001 on");
  EXPECT_TRUE(waitList([](auto& u) { return FindUser(u, L"100000000000000001")->muted; }));
  sim->Inject("join 100000000000000007 frank global=Frank");
  EXPECT_TRUE(waitList([](auto& u) { return u.size() == 5 && u[4].id == L"100000000000000007"; }));
  sim->Inject("leave 100000000000000002");
  EXPECT_TRUE(waitList([](auto& u) { return u.size() == 4 && !FindUser(u, L"100000000000000002"); }));
  // Speaking survives the next snapshot; Frank gets his full record there.
  sim->Inject("switch 300000000000000001");
  EXPECT_TRUE(PollUntil([&] { return SimLines("RECV op=1 {\"cmd\":\"GET_SELECTED_VOICE_CHANNEL\"").size() >= 2; }));
  EXPECT_TRUE(waitList([](auto& u) { return u.size() == 4 && FindUser(u, L"100000000000000007")->displayName == L"Frank"; }));
  EXPECT_TRUE(FindUser(lists.back(), L"100000000000000003")->speaking);
  // The same channel again subscribes nothing new.
  EXPECT_EQ(SimLines("\"evt\":\"SPEAKING_START\",\"args\"").size(), 1u);
}

TEST_F(RpcSimTest, ChannelSwitchAndLeavingVoice) {
  StartSim();
  ConnectAndAuthenticate();
  sim->Inject("switch 300000000000000002");
  ASSERT_TRUE(PollUntil([&] { return lists.back().size() == 1 && lists.back()[0].id == L"100000000000000006"; }));
  EXPECT_TRUE(PollUntil([&] { return SimLines("\"channel_id\":\"300000000000000002\"},\"nonce\"").size() == 5; }));
  EXPECT_TRUE(Logged("[IPC] Voice channel selection changed, requesting update..."));

  sim->Inject("leave_channel");
  ASSERT_TRUE(PollUntil([&] { return lists.back().empty(); }));
  EXPECT_TRUE(Logged("[IPC] Not in a voice channel"));

  // Coming back to a channel subscribes its events again.
  sim->Inject("switch 300000000000000001");
  ASSERT_TRUE(PollUntil([&] { return lists.back().size() == 4; }));
  EXPECT_TRUE(PollUntil([&] { return SimLines("\"channel_id\":\"300000000000000001\"},\"nonce\"").size() == 10; }));
}

TEST_F(RpcSimTest, MessageCreateReachesOnMessage) {
  StartSim();
  ConnectAndAuthenticate();
  sim->Inject("message bob \"see you at eight\"");
  ASSERT_TRUE(PollUntil([&] { return !messages.empty(); }, 5000));
  EXPECT_EQ(messages[0].first, L"bob");
  EXPECT_EQ(messages[0].second, L"see you at eight");
}

TEST_F(RpcSimTest, OnlyPipeThreeExists) {
  StartSim(kTestScenario, 3);
  ASSERT_TRUE(ConnectClient());
  EXPECT_TRUE(client->IsConnected());
  EXPECT_TRUE(sim->WaitForLines("CONNECTED", 1, 2000));
}

TEST_F(RpcSimTest, NoPipeAtAll) {
  EXPECT_FALSE(ConnectClient());
  EXPECT_FALSE(client->IsConnected());
  EXPECT_TRUE(Logged("[IPC] ERROR: Failed to open pipe"));
}

TEST_F(RpcSimTest, TwoFramesInOneBurstTakeTwoPolls) {
  StartSim();
  ConnectAndAuthenticate();
  auto message = [](const char* text) {
    return EncodeRpcFrame(kOpFrame, std::string(R"({"cmd":"DISPATCH","data":{"content":")") + text +
                                        R"(","author":{"username":"bob"}},"evt":"MESSAGE_CREATE","nonce":null})");
  };
  sim->SendRaw(message("one") + message("two"));
  ASSERT_TRUE(sim->WaitForLines("SEND raw", 1, 2000));
  Sleep(200);
  client->Poll();
  EXPECT_EQ(messages.size(), 1u);
  client->Poll();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].second, L"two");
}

TEST_F(RpcSimTest, HeaderSplitAcrossWritesStaysInStep) {
  StartSim();
  ConnectAndAuthenticate();
  std::string frame = EncodeRpcFrame(
      kOpFrame, R"({"cmd":"DISPATCH","data":{"content":"split","author":{"username":"bob"}},"evt":"MESSAGE_CREATE"})");
  sim->SendRaw(frame.substr(0, 3));
  ASSERT_TRUE(sim->WaitForLines("SEND raw", 1, 2000));
  Sleep(100);
  sim->SendRaw(frame.substr(3));
  ASSERT_TRUE(PollUntil([&] { return !messages.empty(); }, 5000));
  EXPECT_EQ(messages[0].second, L"split");
  EXPECT_TRUE(client->IsConnected());
}

TEST_F(RpcSimTest, PingIsAnsweredWithTheSameBytes) {
  StartSim();
  ASSERT_TRUE(ConnectClient());
  sim->Inject("ping abcdefg");
  ASSERT_TRUE(PollUntil([&] { return !SimLines("RECV op=4").empty(); }, 5000));
  EXPECT_EQ(SimLines("RECV op=4")[0], "RECV op=4 abcdefg");
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
  auto authorize = SimLines("RECV op=1 {\"cmd\":\"AUTHORIZE\"");
  EXPECT_NE(authorize[0].find("\"nonce\":\"1\"}"), std::string::npos);
  EXPECT_NE(authorize[1].find("\"nonce\":\"2\"}"), std::string::npos);
}

TEST_F(RpcSimTest, ServerGoneThenBack) {
  StartSim();
  ConnectAndAuthenticate();
  sim->Stop();
  ASSERT_TRUE(PollUntil([&] { return !client->IsConnected(); }, 5000));
  size_t before = lists.size();
  StartSim();
  ASSERT_TRUE(ConnectClient());
  EXPECT_TRUE(PollUntil([&] { return lists.size() > before; }));
  EXPECT_EQ(LinesFrom(LogLines(), "[IPC] Authentication successful!").size(), 2u);
}

TEST_F(RpcSimTest, TokenEndpointFailuresAreLogged) {
  struct Case {
    SimTokenMode mode;
    const char* line;
  };
  const Case cases[] = {
      {SimTokenMode::Error, "[IPC] Token exchange failed: invalid_grant - Invalid \\\"code\\\" in request."},
      {SimTokenMode::NotJson, "[IPC] Token exchange failed:  - "},
  };
  for (const Case& c : cases) {
    tokenMode = c.mode;
    StartSim();
    ASSERT_TRUE(ConnectClient());
    EXPECT_TRUE(PollUntilLogged(c.line, 10000)) << c.line;
    EXPECT_FALSE(Logged("[IPC] Sending AUTHENTICATE request..."));
    EXPECT_TRUE(client->IsConnected());
    client->Disconnect();
    sim->Stop();
  }
}

// The user denying the prompt, or Discord refusing the token: one line with
// Discord's message, and nothing asked of the channel.
TEST_F(RpcSimTest, DiscordRefusalsAreLogged) {
  struct Case {
    const char* scenarioLine;
    const char* line;
  };
  const Case cases[] = {
      {"authorize deny",
       "[IPC] AUTHORIZE error: OAuth2 Error: access_denied: The resource owner or authorization server denied the "
       "request"},
      {"authenticate reject", "[IPC] AUTHENTICATE error: Invalid access token"},
  };
  for (const Case& c : cases) {
    StartSim(std::string(kTestScenario) + c.scenarioLine + "\n");
    ASSERT_TRUE(ConnectClient());
    EXPECT_TRUE(PollUntilLogged(c.line)) << c.line;
    PollUntil([] { return false; }, 300);
    EXPECT_TRUE(SimLines("\"cmd\":\"SUBSCRIBE\"").empty()) << c.scenarioLine;
    EXPECT_TRUE(lists.empty()) << c.scenarioLine;
    client->Disconnect();
    sim->Stop();
  }
}

TEST_F(RpcSimTest, EmptySecretMakesNoRequest) {
  client->clientSecret.clear();
  StartSim();
  ASSERT_TRUE(ConnectClient());
  ASSERT_TRUE(PollUntilLogged("[IPC] Please set your Discord app's client_secret to enable voice channel access"));
  EXPECT_TRUE(Logged("[IPC] ERROR: client_secret not set in config.json"));
  PollUntil([] { return false; }, 300);
  EXPECT_EQ(http.RequestCount(), 0);
  EXPECT_FALSE(Logged("Exchanging code"));
}

TEST_F(RpcSimTest, TokenExchangeDoesNotBlockPolling) {
  tokenDelayMs = 1500;
  StartSim();
  ASSERT_TRUE(ConnectClient());
  ASSERT_TRUE(PollUntilLogged("[IPC] Exchanging code for access token..."));
  ULONGLONG longest = 0;
  int polls = 0;
  ULONGLONG start = GetTickCount64();
  while (!Logged("[IPC] Got access token!") && GetTickCount64() - start < 10000) {
    ULONGLONG before = GetTickCount64();
    client->Poll();
    longest = std::max(longest, GetTickCount64() - before);
    ++polls;
    Sleep(5);
  }
  EXPECT_TRUE(Logged("[IPC] Got access token!"));
  EXPECT_GE(GetTickCount64() - start, 1000u);
  EXPECT_GT(polls, 50);
  EXPECT_LT(longest, 200u);
  EXPECT_TRUE(PollUntilLogged("[IPC] Authentication successful!"));
}

TEST_F(RpcSimTest, DestructionWhileTheExchangeRunsIsBounded) {
  tokenDelayMs = 20000;
  StartSim();
  ASSERT_TRUE(ConnectClient());
  ASSERT_TRUE(PollUntilLogged("[IPC] Exchanging code for access token..."));
  ULONGLONG before = GetTickCount64();
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
  ASSERT_TRUE(ConnectClient());
  ASSERT_TRUE(PollUntilLogged("[IPC] Authentication successful!"));
  EXPECT_EQ(SimLines("RECV op=1 {\"cmd\":\"AUTHENTICATE\"").size(), 1u);
}
