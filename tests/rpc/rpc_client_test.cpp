// RpcClient against the in-process Discord simulator and token endpoint:
// the session's flows, Discord as it really is (one consent dialog, names of
// any shape, mute flags where Discord keeps them, subscriptions kept until
// UNSUBSCRIBE, handshakes queued, calls that cost a web request per
// snapshot), Discord's refusals, and a peer that breaks the connection (each
// fault ends in a disconnect with its own log line, holds the caller no
// longer than the frame wait, allocates nothing for a declared length, and
// the next connection authenticates again).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/log.h"
#include "rpc/rpc_client.h"
#include "rpc/rpc_frame.h"
#include "tests/support/child_process.h"
#include "tools/discord_sim/sim_pipe_server.h"
#include "tools/discord_sim/sim_web.h"
#include "tools/loopback_http/loopback_http_server.h"

// The largest operator new request (largest_allocation.cpp): a buffer sized
// by a declared length shows, whether or not the allocation would succeed.
extern std::atomic<size_t> g_largestAllocation;

namespace {

const char* const kTestScenario = R"(user 100000000000000001 alice global=Alice
channel 300000000000000001 General
member 100000000000000001 alice global=Alice avatar=a1c3
member 100000000000000002 bob global=Bob nick=Bobby self_mute
member 100000000000000003 carol deaf
member 100000000000000005 tunebot bot
channel 300000000000000002 Gaming
member 100000000000000006 erin global=Erin
select 300000000000000001
handshake_interval 100
)";

constexpr ULONGLONG kFrameWaitBoundMs = 2500;  // the client's 2 s frame wait and some slack

class RpcSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    g_logPath = std::wstring(dir) + L"voxmere_rpc_test_" + std::to_wstring(GetCurrentProcessId()) + L".log";
    DeleteFileW(g_logPath.c_str());
    http.Route("POST", "/api/oauth2/token", [this](const LoopbackHttpRequest& request) {
      if (tokenResets > 0) {
        --tokenResets;
        LoopbackHttpResponse reset;
        reset.resetConnection = true;
        return reset;
      }
      SimHttpReply reply = TokenEndpointReply(request.body, tokenMode, auth);
      return LoopbackHttpResponse{reply.status, reply.contentType, reply.body, tokenDelayMs};
    });
    ASSERT_TRUE(http.Start());
    _putenv(("VOXMERE_API_BASE=" + http.BaseUrl()).c_str());
    NewClient();
  }

  // A client as a fresh start of Voxmere makes it: nothing kept.
  void NewClient() {
    client.reset();
    client = std::make_unique<RpcClient>();
    client->clientSecret = L"TestSecret123";
    client->onVoiceUsers = [this](const std::vector<VoiceUser>& users) { lists.push_back(users); };
    client->onMessage = [this](const std::wstring& a, const std::wstring& t) { messages.emplace_back(a, t); };
    client->onStateChanged = [this](RpcState state) { states.push_back(state); };
  }

  void TearDown() override {
    if (HasFailure())
      for (const std::string& line : ReadLogLines(g_logPath)) std::printf("LOG %s\n", line.c_str());
    client.reset();
    if (sim) sim->Stop();
    http.Stop();
    _putenv("VOXMERE_API_BASE=");
    DeleteFileW(g_logPath.c_str());
    g_logPath.clear();
  }

  void StartSim(const std::string& scenarioText = kTestScenario, int pipe = 0) {
    std::string error;
    auto scenario = ParseScenario(scenarioText, &error);
    ASSERT_TRUE(scenario) << error;
    sim = std::make_unique<SimPipeServer>(*scenario, auth);
    ASSERT_TRUE(sim->Start(pipe));
  }
  bool ConnectClient() { return client->Connect(L"1180000000000000000"); }
  bool PollUntil(const std::function<bool()>& done, uint32_t timeoutMs = 10000) {
    for (ULONGLONG deadline = GetTickCount64() + timeoutMs; !done(); Sleep(1)) {
      if (GetTickCount64() > deadline) return false;
      client->Poll();
    }
    return true;
  }
  size_t CountLogged(const std::string& fragment) const { return ReadLogLines(g_logPath, fragment).size(); }
  bool PollUntilLogged(const std::string& fragment) { return PollUntil([&] { return CountLogged(fragment) > 0; }); }
  // The sign that each side has read what the other sent so far: the answer
  // to a ping, which the client takes after every frame sent before it and
  // writes after everything it wrote before; on a connection that ended,
  // the simulator's end of it.
  bool BothSidesCaughtUp() {
    if (!client->IsConnected()) return sim->WaitForLines("DISCONNECTED", 1, 5000);
    const std::string payload = "caught-up-" + std::to_string(++pings) + ".";
    sim->Inject("ping " + payload);
    return PollUntil([&] { return sim->CountLines("RECV op=4 " + payload) == 1; }, 5000);
  }
  // The whole chain up to a member list, every answer read.
  void ConnectAndAuthenticate() {
    ASSERT_TRUE(ConnectClient());
    ASSERT_TRUE(PollUntil([&] { return CountLogged("[IPC] SUBSCRIBE response received") == 6 && !lists.empty(); }));
  }
  // Two resyncs that repeat what is known (Discord's last snapshot answer
  // again): nothing handed on, and the line that reports the snapshot is not
  // written again.
  void ExpectQuietResync(const char* reportLine) {
    const std::string kAnswer = "SEND op=1 {\"cmd\":\"GET_SELECTED_VOICE_CHANNEL\"";
    const std::vector<std::string> lines = sim->Lines();
    auto last = std::find_if(lines.rbegin(), lines.rend(), [&](auto& l) { return l.rfind(kAnswer, 0) == 0; });
    ASSERT_NE(last, lines.rend());
    const size_t listsBefore = lists.size();
    const size_t reportsBefore = CountLogged(reportLine);
    const size_t answers = sim->CountLines(kAnswer);
    for (int i = 0; i < 2; ++i) sim->Inject("raw " + last->substr(strlen("SEND op=1 ")));
    EXPECT_TRUE(sim->WaitForLines(kAnswer, answers + 2, 5000));
    ASSERT_TRUE(BothSidesCaughtUp());
    EXPECT_EQ(lists.size(), listsBefore);
    EXPECT_EQ(CountLogged(reportLine), reportsBefore);
  }
  bool Speaking(const char* id) const {
    return std::any_of(lists.back().begin(), lists.back().end(), [&](auto& u) { return u.id == id && u.speaking; });
  }

  SimTokenMode tokenMode = SimTokenMode::Ok;
  uint32_t tokenDelayMs = 0;
  std::atomic<int> tokenResets{0};  // the token endpoint's next answers break the connection
  int pings = 0;
  SimAuthRegistry auth;
  LoopbackHttpServer http;
  std::unique_ptr<SimPipeServer> sim;
  std::unique_ptr<RpcClient> client;
  std::vector<std::vector<VoiceUser>> lists;  // every list onVoiceUsers got
  std::vector<std::pair<std::wstring, std::wstring>> messages;
  std::vector<RpcState> states;  // every change onStateChanged reported
};

std::string MessageFrame(const char* text) {
  return EncodeRpcFrame(kOpFrame, std::string(R"({"cmd":"DISPATCH","data":{"content":")") + text +
                                      R"(","author":{"username":"bob"}},"evt":"MESSAGE_CREATE","nonce":null})");
}

}  // namespace

// A healthy session: the whole chain to a member list; bytes cut anywhere,
// frames that cannot be used and an unknown opcode skipped with their lines;
// events, channel switches and a ping.
TEST_F(RpcSimTest, SessionFromHandshakeThroughEventsAndSwitches) {
  StartSim();
  ConnectAndAuthenticate();
  EXPECT_EQ(sim->CountLines("RECV op=0 {\"v\":1,\"client_id\":\"1180000000000000000\"}"), 1u);
  EXPECT_EQ(sim->CountLines("RECV op=1 {\"cmd\":\"AUTHORIZE\",\"args\":{\"client_id\":\"1180000000000000000\","
                            "\"scopes\":[\"rpc\",\"rpc.voice.read\"],\"prompt\":\"none\"},\"nonce\":\"1\"}"), 1u);
  EXPECT_EQ(states, (std::vector<RpcState>{RpcState::WaitingForReady, RpcState::WaitingForConsent,
                                           RpcState::Authenticating, RpcState::Connected}));
  ASSERT_EQ(http.RequestCount(), 1);
  EXPECT_EQ(http.Requests()[0].body.rfind("client_id=1180000000000000000&client_secret=TestSecret123"
                                   "&grant_type=authorization_code&code=SimCode", 0), 0u);
  EXPECT_EQ(sim->CountLines("RECV op=1 {\"cmd\":\"SUBSCRIBE\",\"evt\":\"SPEAKING_STOP\",\"args\":{\"channel_id\":"
                            "\"300000000000000001\"},\"nonce\":\"9\"}"), 1u);
  const std::vector<VoiceUser>& users = lists.back();
  ASSERT_EQ(users.size(), 4u);
  EXPECT_TRUE(users[0].avatarHash == L"a1c3" && users[1].displayName == L"Bobby");
  EXPECT_TRUE(users[1].muted && !users[1].deafened && users[2].deafened && users[3].bot);
  EXPECT_EQ(CountLogged("[IPC] Token response: {\"token_type\":\"Bearer\",\"access_token\":\"[redacted]\""), 1u);
  EXPECT_EQ(CountLogged("SimAccessToken"), 0u);

  const std::string two = MessageFrame("one") + MessageFrame("two");
  sim->SendRaw(two.substr(0, two.size() / 2 + 3));
  ASSERT_TRUE(PollUntil([&] { return messages.size() == 1; }, 5000));
  sim->SendRaw(two.substr(two.size() / 2 + 3) + EncodeRpcFrame(kOpPong, "stray") +
               EncodeRpcFrame(kOpHandshake, "{}") + EncodeRpcFrame(7, "{}"));
  sim->Inject("raw this is not json");
  sim->Inject("raw");
  sim->Inject("message bob \"still here\"");
  ASSERT_TRUE(PollUntil([&] { return messages.size() == 3; }, 5000));
  EXPECT_EQ(messages[2].second, L"still here");
  EXPECT_TRUE(client->IsConnected());
  EXPECT_EQ(CountLogged("[IPC] ERROR: Frame payload is not JSON (16 bytes), ignored"), 1u);
  EXPECT_EQ(CountLogged("[IPC] ERROR: Frame payload is not JSON (0 bytes), ignored"), 1u);
  EXPECT_EQ(CountLogged("[IPC] Unknown frame opcode 7 (2 bytes), ignored"), 1u);
  EXPECT_EQ(CountLogged("disconnect"), 0u);

  sim->Inject("speak 100000000000000003 on");
  EXPECT_TRUE(PollUntil([&] { return Speaking("100000000000000003"); }));
  ExpectQuietResync("[IPC] Found 4 users in voice channel");
  // The events carry every change: a server channel is resynchronised once a minute.
  const uint32_t due = client->MsUntilPollDue(GetTickCount());
  EXPECT_TRUE(due > 55000 && due <= 60000) << due;
  // Speaking survives a snapshot of the same channel, which subscribes to nothing new.
  const size_t snapshots = CountLogged("[IPC] Found 4 users in voice channel");
  sim->Inject("switch 300000000000000001");
  EXPECT_TRUE(PollUntil([&] { return CountLogged("[IPC] Found 4 users in voice channel") > snapshots; }));
  EXPECT_TRUE(Speaking("100000000000000003"));
  EXPECT_EQ(sim->CountLines("\"evt\":\"SPEAKING_START\",\"args\""), 1u);
  sim->Inject("switch 300000000000000002");
  EXPECT_TRUE(PollUntil([&] { return lists.back().size() == 1 && lists.back()[0].id == "100000000000000006"; }));
  sim->Inject("leave_channel");
  EXPECT_TRUE(PollUntil([&] { return lists.back().empty(); }));
  ExpectQuietResync("[IPC] Not in a voice channel");
  sim->Inject("switch 300000000000000001");  // coming back subscribes again
  EXPECT_TRUE(PollUntil([&] { return sim->CountLines("\"channel_id\":\"300000000000000001\"},\"nonce\"") == 15; }));
  EXPECT_EQ(sim->CountLines("RECV op=1 {\"cmd\":\"UNSUBSCRIBE\""), 10u);
  sim->Inject("ping abcdefg");
  EXPECT_TRUE(PollUntil([&] { return sim->CountLines("RECV op=4 abcdefg") == 1; }, 5000));
}

// Discord forgets a connection's subscriptions, and sends no SPEAKING_STOP
// for the speakers of a connection that is gone.
TEST_F(RpcSimTest, RestartMidSessionSubscribesAgainAndEndsSpeaking) {
  StartSim();
  ConnectAndAuthenticate();
  sim->Inject("speak 100000000000000002 on");
  ASSERT_TRUE(PollUntil([&] { return Speaking("100000000000000002"); }));
  sim->Inject("restart");
  ASSERT_TRUE(PollUntil([&] { return !client->IsConnected(); }, 5000));
  EXPECT_FALSE(Speaking("100000000000000002"));
  ASSERT_TRUE(sim->WaitForLines("RESTARTED", 1, 5000));
  ASSERT_TRUE(ConnectClient());
  EXPECT_TRUE(PollUntil([&] { return CountLogged("[IPC] SUBSCRIBE response received") == 12; }));
  EXPECT_EQ(sim->CountLines("\"evt\":\"SPEAKING_START\",\"args\""), 2u);
  sim->Inject("speak 100000000000000003 on");
  EXPECT_TRUE(PollUntil([&] { return Speaking("100000000000000003"); }));
  // The token was kept: no second AUTHORIZE, no second dialog.
  EXPECT_EQ(sim->CountLines("RECV op=1 {\"cmd\":\"AUTHORIZE\""), 1u);

  // Voxmere restarts: no token, but Discord grants the code without a dialog.
  NewClient();
  ASSERT_TRUE(WaitFor([&] { return ConnectClient(); }, 5000));
  EXPECT_TRUE(PollUntil([&] { return client->State() == RpcState::Connected; }));
  EXPECT_EQ(sim->CountLines("RECV op=1 {\"cmd\":\"AUTHORIZE\""), 2u);
  // The token expires: refused with 4009, forgotten, and authorized again.
  auth.ExpireTokens();
  sim->Inject("restart");
  ASSERT_TRUE(PollUntil([&] { return !client->IsConnected(); }, 5000));
  ASSERT_TRUE(sim->WaitForLines("RESTARTED", 2, 5000));
  ASSERT_TRUE(ConnectClient());
  EXPECT_TRUE(PollUntil([&] { return CountLogged("[IPC] Authentication successful!") == 4; }));
  EXPECT_EQ(CountLogged("[IPC] AUTHENTICATE error: Invalid access token: [redacted]"), 1u);
  EXPECT_EQ(sim->CountLines("RECV op=1 {\"cmd\":\"AUTHORIZE\""), 3u);
  EXPECT_EQ(auth.ConsentDialogs(), 1);
  EXPECT_EQ(CountLogged("SimAccessToken"), 0u);
  EXPECT_EQ(CountLogged("TestSecret123"), 0u);
}

// The first AUTHORIZE is never answered and the connection drops; the next
// one, found on a later pipe, authorizes again with the next nonce.
TEST_F(RpcSimTest, ReconnectAuthorizesAgainAndNoncesContinue) {
  StartSim(std::string(kTestScenario) + "authorize silent\n", 3);
  ASSERT_TRUE(ConnectClient());
  ASSERT_TRUE(PollUntil([&] { return sim->CountLines("\"nonce\":\"1\"}") == 1; }));
  // While the dialog is open a reconnect keeps the connection: a second
  // AUTHORIZE would open a second dialog.
  EXPECT_EQ(client->State(), RpcState::WaitingForConsent);
  EXPECT_TRUE(ConnectClient());
  EXPECT_EQ(sim->CountLines("RECV op=0 "), 1u);  // one handshake: the same pipe
  sim->DropClient();
  ASSERT_TRUE(PollUntil([&] { return !client->IsConnected(); }, 5000));
  ASSERT_TRUE(WaitFor([&] { return ConnectClient(); }, 5000));
  ASSERT_TRUE(PollUntil([&] { return sim->CountLines("RECV op=1 {\"cmd\":\"AUTHORIZE\"") == 2; }));
  EXPECT_EQ(sim->CountLines("\"prompt\":\"none\"},\"nonce\":\"2\"}"), 1u);
}

// While the plugin's feed is live or awaited no AUTHORIZE goes out (no
// dialog); once allowed it does, and later a kept token authenticates even
// while held back.
TEST_F(RpcSimTest, AuthorizationHeldBackUntilAllowed) {
  StartSim();
  const char* kAuthorize = "RECV op=1 {\"cmd\":\"AUTHORIZE\"";
  client->AllowAuthorization(false);
  ASSERT_TRUE(ConnectClient());
  ASSERT_TRUE(PollUntilLogged("[IPC] Authorization held back"));
  ASSERT_TRUE(BothSidesCaughtUp());
  EXPECT_EQ(sim->CountLines(kAuthorize), 0u);
  EXPECT_EQ(client->State(), RpcState::WaitingForReady);
  client->AllowAuthorization(true);
  ASSERT_TRUE(PollUntil([&] { return !lists.empty(); }));
  EXPECT_EQ(sim->CountLines(kAuthorize), 1u);
  client->AllowAuthorization(false);
  client->Disconnect();
  ASSERT_TRUE(WaitFor([&] { return ConnectClient(); }, 5000));
  ASSERT_TRUE(PollUntil([&] { return client->State() == RpcState::Connected; }));
  EXPECT_EQ(sim->CountLines(kAuthorize), 1u);
}

// Each failure on the way to a token: its line, nothing asked of the
// channel, the connection kept (Discord's CLOSE aside), the state the tray
// shows.
TEST_F(RpcSimTest, AuthorizationFailuresAreLogged) {
  struct Case {
    const char* scenarioLine;
    SimTokenMode mode;
    const wchar_t* secret;
    bool tokenRequested;
    const char* line;
    RpcState state;
  };
  const Case cases[] = {
      // The placeholder id: Discord closes the pipe and says why; the state
      // stays until a READY (the next row's).
      {"application 1234567890123456789", SimTokenMode::Ok, L"s", false,
       "[IPC] Received CLOSE frame: 4000 Invalid Client ID", RpcState::ClientIdRejected},
      // Before any grant: once the user has consented, Discord asks no more.
      {"authorize deny", SimTokenMode::Ok, L"s", false,
       "[IPC] AUTHORIZE error: OAuth2 Error: access_denied: The resource owner or authorization server denied the "
       "request", RpcState::NotAuthorized},
      {"", SimTokenMode::Error, L"s", true, "[IPC] Token exchange failed: invalid_grant - Invalid \"code\" in request.",
       RpcState::NotAuthorized},
      {"", SimTokenMode::NotJson, L"s", true, "[IPC] Token exchange failed:  - ", RpcState::NotAuthorized},
      {"", SimTokenMode::Ok, L"", false, "[IPC] Please set your Discord app's client_secret to enable voice channel access",
       RpcState::NotAuthorized},
      {"authenticate reject", SimTokenMode::Ok, L"s", true, "[IPC] AUTHENTICATE error: Invalid access token: [redacted]",
       RpcState::NotAuthorized},
      {"redirect_uri none", SimTokenMode::Ok, L"s", false,
       "[IPC] ERROR: The Discord application needs a Redirect URI: add one (for example http://localhost)",
       RpcState::NotAuthorized},
      // An application Discord has not approved for rpc.voice.read.
      {"scopes unapproved", SimTokenMode::Ok, L"s", false,
       "[IPC] ERROR: invalid_scope: Discord has not approved this application for rpc.voice.read; the Tallybell "
       "plugin is the way to show your voice channel", RpcState::ScopeRejected},
  };
  for (const Case& c : cases) {
    tokenMode = c.mode;
    client->clientSecret = c.secret;
    const int requestsBefore = http.RequestCount();
    StartSim(std::string(kTestScenario) + c.scenarioLine + "\n");
    ASSERT_TRUE(ConnectClient());
    EXPECT_TRUE(PollUntilLogged(c.line)) << c.line;
    EXPECT_TRUE(BothSidesCaughtUp()) << c.line;
    EXPECT_TRUE(sim->CountLines("\"cmd\":\"SUBSCRIBE\"") == 0 && lists.empty()) << c.line;
    EXPECT_EQ(client->IsConnected(), c.state != RpcState::ClientIdRejected) << c.line;
    EXPECT_EQ(client->State(), c.state) << c.line;
    EXPECT_EQ(http.RequestCount() > requestsBefore, c.tokenRequested) << c.line;
    sim->Stop();
  }
}

// A network that drops the token request: the same connection authorizes
// again after 5 s, then 10 s, with no second consent dialog and no new pipe,
// and the wait is announced through MsUntilPollDue.
TEST_F(RpcSimTest, UnreachableTokenEndpointIsTriedAgainWithoutAnotherDialog) {
  tokenResets = 2;
  StartSim();
  ASSERT_TRUE(ConnectClient());
  ASSERT_TRUE(PollUntilLogged("; authorizing again in 5 s"));
  EXPECT_EQ(client->State(), RpcState::Authenticating);
  const uint32_t due = client->MsUntilPollDue(GetTickCount());
  EXPECT_GT(due, 4000u);
  EXPECT_LE(due, 5000u);
  ASSERT_TRUE(PollUntil([&] { return CountLogged("; authorizing again in 10 s") == 1; }, 8000));
  ASSERT_TRUE(PollUntil([&] { return client->State() == RpcState::Connected && !lists.empty(); }, 15000));
  EXPECT_EQ(sim->CountLines("RECV op=1 {\"cmd\":\"AUTHORIZE\""), 3u);
  EXPECT_EQ(auth.ConsentDialogs(), 1);
  EXPECT_EQ(sim->CountLines("RECV op=0 "), 1u);  // one handshake: the same pipe
}

// The exchange runs beside polling; the token of a connection lost meanwhile
// is not used for the next one, which gets its own; an exchange still running
// holds the client's destruction only briefly.
TEST_F(RpcSimTest, TokenExchangeDoesNotBlockPollingOrDestruction) {
  tokenDelayMs = 1000;
  std::atomic<int> wakes{0};
  client->onWake = [&] { ++wakes; };
  StartSim();
  ASSERT_TRUE(ConnectClient());
  ASSERT_TRUE(PollUntilLogged("[IPC] Exchanging code for access token..."));
  sim->DropClient();
  ASSERT_TRUE(PollUntil([&] { return !client->IsConnected(); }, 5000));
  ASSERT_TRUE(WaitFor([&] { return ConnectClient(); }, 5000));
  ULONGLONG longest = 0;
  const ULONGLONG start = GetTickCount64();
  EXPECT_TRUE(PollUntil([&] {
    const ULONGLONG before = GetTickCount64();
    client->Poll();
    longest = std::max(longest, GetTickCount64() - before);
    return CountLogged("[IPC] Authentication successful!") > 0;
  }));
  EXPECT_GE(GetTickCount64() - start, 900u);
  EXPECT_LT(longest, 200u);
  EXPECT_GT(wakes, 0);
  EXPECT_EQ(sim->CountLines("RECV op=1 {\"cmd\":\"AUTHENTICATE\""), 1u);
  tokenDelayMs = 20000;
  auth.ExpireTokens();  // the kept token is refused, and a new one asked for
  sim->DropClient();
  ASSERT_TRUE(PollUntil([&] { return !client->IsConnected(); }, 5000));
  ASSERT_TRUE(WaitFor([&] { return ConnectClient(); }, 5000));
  ASSERT_TRUE(PollUntil([&] { return CountLogged("[IPC] Exchanging code for access token...") == 3; }));
  const ULONGLONG before = GetTickCount64();
  client.reset();
  EXPECT_LT(GetTickCount64() - before, 4000u);
}

// Discord queues a handshake over its limit (two at once, then one per
// interval): the client waits for READY as long as the pipe stays open,
// without holding its caller, and opens no second connection meanwhile.
TEST_F(RpcSimTest, QueuedHandshakeIsAwaitedWithoutBlocking) {
  StartSim(std::string(kTestScenario) + "handshake_interval 3000\n");
  for (int session = 0; session < 2; ++session) {
    ASSERT_TRUE(WaitFor([&] { return ConnectClient(); }, 5000));
    ASSERT_TRUE(PollUntil([&] { return client->State() == RpcState::Connected; }));
    client->Disconnect();
  }
  ASSERT_TRUE(WaitFor([&] { return ConnectClient(); }, 5000));
  const ULONGLONG start = GetTickCount64();
  ASSERT_TRUE(sim->WaitForLines("HANDSHAKE QUEUED", 1, 5000));
  EXPECT_EQ(client->MsUntilPollDue(GetTickCount()), 0xFFFFFFFFu);
  ULONGLONG longest = 0;
  bool askedAgain = false;
  EXPECT_TRUE(PollUntil([&] {
    const ULONGLONG before = GetTickCount64();
    client->Poll();
    longest = std::max(longest, GetTickCount64() - before);
    if (!askedAgain && before - start > 1000) {
      EXPECT_EQ(client->State(), RpcState::WaitingForReady);
      askedAgain = ConnectClient();  // as the tray's Reconnect would
    }
    return client->State() == RpcState::Connected;
  }));
  EXPECT_GE(GetTickCount64() - start, 1500u);
  EXPECT_LT(longest, 200u);
  EXPECT_TRUE(askedAgain);
  EXPECT_EQ(sim->CountLines("RECV op=0 "), 3u);
  EXPECT_EQ(CountLogged("[IPC] Connection to Discord still on its way; no second one opened"), 1u);
}

const char* const kDiscordAsItIs = R"(user 100000000000000001 alice global=Alice
channel 300000000000000001 General
member 100000000000000011 xavier global=Xavier nick=x]
member 100000000000000012 bob global=Bob nick=Bob}
member 100000000000000013 uma global=Uma nick=user
member 100000000000000014 ann "nick=Ann \"the tank\" 🎵"
member 100000000000000015 sam global=Sam mute
member 100000000000000016 lou global=Lou local_mute
channel 300000000000000002 Gaming
member 100000000000000006 erin global=Erin
channel 300000000000000003 Call type=1
member 100000000000000001 alice global=Alice
member 100000000000000007 fay global=Fay
select 300000000000000001
handshake_interval 100
)";

// Names of any shape, mute as Discord keeps it (server or self, not the
// local user's own mute of a member), no member of a channel left behind,
// and a call that is asked for its members once.
TEST_F(RpcSimTest, NamesMuteAndChannelsAsDiscordSendsThem) {
  StartSim(kDiscordAsItIs);
  ASSERT_TRUE(ConnectClient());
  ASSERT_TRUE(PollUntil([&] { return !lists.empty(); }));
  auto shown = [&] {
    std::vector<std::wstring> names;
    for (const VoiceUser& u : lists.back()) names.push_back(u.displayName + (u.muted ? L" (m)" : L""));
    return names;
  };
  EXPECT_EQ(shown(), (std::vector<std::wstring>{L"x]", L"Bob}", L"user", L"Ann \"the tank\" \xD83C\xDFB5", L"Sam (m)",
                                                L"Lou"}));
  for (const char* id : {"100000000000000015", "100000000000000016", "100000000000000015", "100000000000000015"}) {
    const size_t before = lists.size();
    sim->Inject(std::string("update ") + id);
    ASSERT_TRUE(PollUntil([&] { return lists.size() > before; }));
    EXPECT_TRUE(lists.back()[4].muted && !lists.back()[5].muted) << id;
  }

  sim->Inject("switch 300000000000000002");
  ASSERT_TRUE(PollUntil([&] { return shown() == std::vector<std::wstring>{L"Erin"}; }));
  EXPECT_EQ(sim->CountLines("RECV op=1 {\"cmd\":\"UNSUBSCRIBE\",\"evt\":\"VOICE_STATE_CREATE\",\"args\":{\"channel_id\":"
                            "\"300000000000000001\"}"), 1u);
  const size_t listsBefore = lists.size();
  sim->Inject("in 300000000000000001 join 100000000000000017 zed global=Zed");
  sim->Inject("in 300000000000000001 speak 100000000000000011 on");
  sim->Inject("message bob marker");
  ASSERT_TRUE(PollUntil([&] { return messages.size() == 1; }));
  EXPECT_EQ(lists.size(), listsBefore);
  EXPECT_EQ(sim->CountLines("SEND op=1 {\"cmd\":\"DISPATCH\",\"data\":{\"nick\":\"Zed\""), 0u);

  sim->Inject("switch 300000000000000003");
  ASSERT_TRUE(PollUntil([&] { return shown() == std::vector<std::wstring>{L"Alice", L"Fay"}; }));
  EXPECT_EQ(sim->CountLines("API FETCH /channels/300000000000000003/messages"), 1u);
  EXPECT_EQ(client->MsUntilPollDue(GetTickCount()), 0xFFFFFFFFu) << "no resync in a call";
}

namespace {

struct Fault {
  const char* name;
  std::string steps;  // timeline steps, run a second after authentication
  const char* logLine;
};

class RpcFaultTest : public RpcSimTest, public ::testing::WithParamInterface<Fault> {};

const std::string kCutSpeaking = std::string("cut_frame ") +
    R"({"cmd":"DISPATCH","data":{"channel_id":"300000000000000001","user_id":"100000000000000002"},)"
    R"("evt":"SPEAKING_START","nonce":null})";

}  // namespace

TEST_P(RpcFaultTest, DisconnectsLogsAndReconnects) {
  const Fault& fault = GetParam();
  StartSim(std::string(kTestScenario) + "timeline\nwait 1000\n" + fault.steps + "\n");
  ConnectAndAuthenticate();
  g_largestAllocation = 0;
  ULONGLONG longestPoll = 0;
  PollUntil([&] {
    const ULONGLONG before = GetTickCount64();
    client->Poll();
    longestPoll = std::max(longestPoll, GetTickCount64() - before);
    return !client->IsConnected();
  });
  ASSERT_FALSE(client->IsConnected());
  EXPECT_EQ(CountLogged(fault.logLine), 1u);
  EXPECT_LT(longestPoll, kFrameWaitBoundMs);
  EXPECT_LT(g_largestAllocation, 1024u * 1024);  // far below a declared 16 MiB, far above any real frame
  // No more faults: the next connection, once the simulator let go of the last, is healthy.
  ASSERT_TRUE(WaitFor([&] { return ConnectClient(); }, 5000));
  EXPECT_TRUE(PollUntil([&] { return CountLogged("[IPC] Authentication successful!") == 2; }));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RpcFaultTest,
    ::testing::Values(
        Fault{"StalledMidFrame", kCutSpeaking, "[IPC] ERROR: No complete frame within 2000 ms, disconnecting"},
        // "<html></html>" where a header belongs: length "l></".
        Fault{"TextInsteadOfAHeader", "bytes 3c68746d6c3e3c2f68746d6c3e",
              "[IPC] ERROR: Frame payload too large (792477292 bytes), disconnecting"},
        Fault{"LengthJustOverTheBound", "bytes 0100000001000001",
              "[IPC] ERROR: Frame payload too large (16777217 bytes), disconnecting"},
        // Discord hangs: its pipe buffer fills with our answer to its ping.
        Fault{"PeerStopsReading", "stall 3000\nping " + std::string(2000, 'x'),
              "[IPC] ERROR: Write of 2008 bytes to Discord stalled for 500 ms, disconnecting"}),
    [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });
