// The simulator's own rules: scenario files and the real Discord client's
// connection rules. Its answers are read back with the client's parser, so
// the two sides agree on the shapes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "rpc/voice_tracking.h"
#include "tools/discord_sim/sim_discord.h"

namespace {

SimScenario Parse(const std::string& text) {
  std::string error;
  auto scenario = ParseScenario(text, &error);
  EXPECT_TRUE(scenario) << error;
  return scenario ? *scenario : SimScenario{};
}

RpcFrame Command(const std::string& text) { return RpcFrame{kOpFrame, text}; }
const RpcFrame kHello{kOpHandshake, R"({"v":1,"client_id":"118"})"};

std::string Payload(const SimReply& reply) { return reply.frames.empty() ? "" : reply.frames.at(0).payload; }

std::string Authorize(bool promptNone) {
  return std::string(R"({"cmd":"AUTHORIZE","args":{"client_id":"118","scopes":["rpc","rpc.voice.read"])") +
         (promptNone ? R"(,"prompt":"none")" : "") + R"(},"nonce":"1"})";
}

// One authenticated connection; its reply to AUTHENTICATE.
std::string Authenticate(SimDiscord& sim, SimAuthRegistry& auth, uint64_t now = 0) {
  sim.OnConnect();
  sim.HandleFrame(kHello, now);
  return Payload(sim.HandleFrame(Command(R"({"cmd":"AUTHENTICATE","args":{"access_token":")" +
                                         auth.RedeemCode(auth.IssueCode()) + R"("},"nonce":"2"})"),
                                 now));
}

}  // namespace

TEST(SimScenario, ShippedScenariosParse) {
  const char* source = std::getenv("VOXMERE_SOURCE_DIR");
  for (const char* name : {"default", "switching", "faults"}) {
    std::ifstream file(std::string(source ? source : ".") + "/tools/discord_sim/scenarios/" + name + ".txt");
    std::ostringstream text;
    text << file.rdbuf();
    SimScenario scenario = Parse(text.str());
    EXPECT_FALSE(scenario.timeline.empty()) << name;
  }
  const SimScenario names = Parse("channel 31 Call type=1\nmember 2 ann \"nick=Ann \\\"the tank\\\"\"\n"
                                  "member 3 x nick=x] local_mute\ntimeline\nin 31 update 2\n");
  ASSERT_EQ(names.channels.at(0).members.size(), 2u);
  EXPECT_EQ(names.channels[0].members[0].nick, "Ann \"the tank\"");
  EXPECT_TRUE(names.channels[0].type == 1 && names.channels[0].guildId.empty());
  EXPECT_TRUE(names.channels[0].members[1].localMute && names.timeline.at(0).channel == "31");
}

// Subscriptions belong to one connection and last until UNSUBSCRIBE,
// whatever channel is selected; every command but AUTHORIZE and
// AUTHENTICATE needs this connection's AUTHENTICATE.
TEST(SimDiscord, ConnectionRules) {
  SimAuthRegistry auth;
  SimDiscord sim(Parse("channel 31 General\nmember 2 bob\nchannel 32 Gaming\nselect 31\n"), auth);
  const SimStep speak = *ParseScenarioStep("in 31 speak 2 on", nullptr);
  uint64_t now = 0;  // each connection a while after the last: no handshake waits
  auto answer = [&](const std::string& command) { return Payload(sim.HandleFrame(Command(command), now)); };
  auto subscription = [](const char* cmd) {
    return std::string(R"({"cmd":")") + cmd + R"(","evt":"SPEAKING_START","args":{"channel_id":"31"},"nonce":"7"})";
  };
  for (int connection = 0; connection < 2; ++connection, now += 100000) {
    sim.OnConnect();
    sim.HandleFrame(kHello, now);
    for (const std::string& command : {std::string(R"({"cmd":"GET_SELECTED_VOICE_CHANNEL","args":{},"nonce":"6"})"),
                                       subscription("SUBSCRIBE"), std::string(R"({"cmd":"FROBNICATE","nonce":"8"})")})
      EXPECT_EQ(ParseVoiceSnapshot(ParseJson(answer(command)).value_or(Json())).errorCode, "4006") << command;
    EXPECT_TRUE(sim.RunStep(speak).frames.empty());
    Authenticate(sim, auth, now);
    EXPECT_TRUE(sim.RunStep(speak).frames.empty());
    EXPECT_EQ(answer(subscription("SUBSCRIBE")),
              R"({"cmd":"SUBSCRIBE","data":{"evt":"SPEAKING_START"},"evt":null,"nonce":"7"})");
    EXPECT_EQ(sim.RunStep(speak).frames.size(), 1u);
    sim.RunStep(*ParseScenarioStep("switch 32", nullptr));
    EXPECT_EQ(sim.RunStep(speak).frames.size(), 1u) << "the channel left behind still speaks";
    answer(subscription("UNSUBSCRIBE"));
    EXPECT_TRUE(sim.RunStep(speak).frames.empty());
    sim.RunStep(*ParseScenarioStep("switch 31", nullptr));
  }
}

// One consent dialog per application, ever, for a client that says
// "prompt":"none"; one per AUTHORIZE for one that does not. Authorizations
// and tokens are the server's: they outlive the desktop client.
TEST(SimDiscord, ConsentDialogsAndTokens) {
  struct Row {
    const char* scenario;
    bool promptNone;
    int dialogs;         // after three connections, each on a new desktop client
    const char* answer;  // to the last AUTHORIZE
  };
  const Row rows[] = {
      {"", true, 1, R"("data":{"code":"SimCode)"},
      {"", false, 3, R"("data":{"code":"SimCode)"},
      {"authorize deny\n", true, 3, R"({"code":5000,"message":"OAuth2 Error: access_denied)"},
      {"redirect_uri none\n", true, 0, R"({"code":5000,"message":"OAuth2 Error: invalid_request: Missing \"redirect_uri\""})"},
      // As Discord answers an application it has not approved for the scopes.
      {"scopes unapproved\n", false, 0,
       R"({"cmd":"AUTHORIZE","data":{"code":5000,"message":"OAuth2 Error: invalid_scope: The requested scope is invalid, unknown, or malformed."},"evt":"ERROR")"},
  };
  for (const Row& row : rows) {
    SimAuthRegistry auth;
    std::string last;
    for (int restart = 0; restart < 3; ++restart) {
      SimDiscord sim(Parse(row.scenario), auth);
      sim.OnConnect();
      sim.HandleFrame(kHello, 0);
      last = Payload(sim.HandleFrame(Command(Authorize(row.promptNone)), 0));
    }
    EXPECT_EQ(auth.ConsentDialogs(), row.dialogs) << row.scenario << row.promptNone;
    EXPECT_NE(last.find(row.answer), std::string::npos) << last;
  }
  SimAuthRegistry auth;
  SimDiscord sim(Parse(""), auth);
  sim.OnConnect();
  sim.HandleFrame(kHello, 0);
  const std::string token = auth.RedeemCode(auth.IssueCode());
  auth.ExpireTokens();
  EXPECT_EQ(Payload(sim.HandleFrame(Command(R"({"cmd":"AUTHENTICATE","args":{"access_token":")" + token +
                                            R"("},"nonce":"2"})"), 0)),
            R"({"cmd":"AUTHENTICATE","data":{"code":4009,"message":"Invalid access token: )" + token +
                R"("},"evt":"ERROR","nonce":"2"})");
}

// Two handshakes at once, then one per interval; one over the limit is
// queued, not refused. A client id Discord does not know is closed with 4000.
TEST(SimDiscord, HandshakeLimiterAndUnknownClientId) {
  SimAuthRegistry auth;
  SimDiscord sim(Parse("application 118\nhandshake_interval 1000\n"), auth);
  const auto handshakeAt = [&](uint64_t now) {
    sim.OnConnect();
    return sim.HandleFrame(kHello, now);
  };
  EXPECT_NE(Payload(handshakeAt(100)).find(R"("evt":"READY")"), std::string::npos);
  EXPECT_NE(Payload(handshakeAt(200)).find(R"("evt":"READY")"), std::string::npos);
  const SimReply queued = handshakeAt(300);
  EXPECT_TRUE(queued.frames.empty());
  EXPECT_EQ(queued.notes, std::vector<std::string>{"HANDSHAKE QUEUED for 800 ms"});
  EXPECT_EQ(sim.QueuedReadyAt(300), 1100u);
  EXPECT_TRUE(sim.ReleaseQueuedReady(1099).frames.empty());
  EXPECT_NE(Payload(sim.ReleaseQueuedReady(1100)).find(R"("evt":"READY")"), std::string::npos);
  EXPECT_FALSE(sim.QueuedReadyAt(1100));
  EXPECT_TRUE(handshakeAt(1200).frames.empty()) << "the next slot comes 1000 ms after the last";
  sim.OnRestart();
  EXPECT_EQ(handshakeAt(1300).frames.size(), 1u) << "a restarted client limits afresh";
  sim.OnConnect();
  const SimReply unknown = sim.HandleFrame(RpcFrame{kOpHandshake, R"({"v":1,"client_id":"1180000000000000000"})"}, 0);
  EXPECT_TRUE(unknown.close && unknown.frames.at(0).opcode == kOpClose);
  EXPECT_EQ(Payload(unknown), R"({"code":4000,"message":"Invalid Client ID"})");
}

// A call's snapshots each cost a web API fetch; the elements come in the
// real key order with nick filled.
TEST(SimDiscord, CallSnapshotsAreCountedAndShapedAsDiscordWritesThem) {
  SimAuthRegistry auth;
  SimDiscord sim(Parse("channel 31 Call type=1\nmember 2 bob global=Bob local_mute\nmember 3 carol\nselect 31\n"), auth);
  Authenticate(sim, auth);
  const std::string request = R"({"cmd":"GET_SELECTED_VOICE_CHANNEL","args":{},"nonce":"6"})";
  sim.HandleFrame(Command(request), 0);
  const SimReply second = sim.HandleFrame(Command(request), 0);
  EXPECT_EQ(second.notes, std::vector<std::string>{"API FETCH /channels/31/messages 2"});
  const std::string snapshot = Payload(second);
  EXPECT_NE(snapshot.find(R"("type":1,"topic":"","bitrate":64000,"user_limit":0,"guild_id":null)"), std::string::npos);
  EXPECT_NE(snapshot.find(R"([{"nick":"Bob","mute":true,"volume":100,"pan":{"left":1,"right":1},"voice_state":{)"),
            std::string::npos)
      << snapshot;
  EXPECT_NE(snapshot.find(R"({"nick":"carol","mute":false)"), std::string::npos);
}
