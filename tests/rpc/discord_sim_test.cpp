// The simulator's own rules: scenario files, protocol answers, token
// endpoint. Its snapshots are read back with the client's parser, so the two
// sides agree on the shapes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "rpc/json_scan.h"
#include "rpc/voice_tracking.h"
#include "tools/discord_sim/sim_discord.h"
#include "tools/discord_sim/sim_web.h"

namespace {

std::string ReadScenarioFile(const std::string& name) {
  const char* source = std::getenv("VOXMERE_SOURCE_DIR");
  std::ifstream file(std::string(source ? source : ".") + "/tools/discord_sim/scenarios/" + name + ".txt");
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

SimScenario Parse(const std::string& text) {
  std::string error;
  auto scenario = ParseScenario(text, &error);
  EXPECT_TRUE(scenario) << error;
  return scenario ? *scenario : SimScenario{};
}

const char* const kSmall = R"(channel 31 General
member 1 alice global=Alice
member 2 bob nick="Big Bob" self_mute
select 31
timeline
wait 100
speak 2 on
loop
)";

RpcFrame Command(const std::string& text) { return RpcFrame{kOpFrame, text}; }

// A connection brought to the authenticated state.
struct Session {
  SimAuthRegistry auth;
  SimDiscord sim;
  explicit Session(const std::string& scenario) : sim(Parse(scenario), auth) {
    sim.OnConnect();
    sim.HandleFrame(RpcFrame{kOpHandshake, R"({"v":1,"client_id":"118"})"});
    SimReply code = sim.HandleFrame(
        Command(R"({"cmd":"AUTHORIZE","args":{"client_id":"118","scopes":["rpc","rpc.voice.read"]},"nonce":"1"})"));
    std::string body = "client_id=118&client_secret=s&grant_type=authorization_code&code=" +
                       ExtractJsonValue(code.frames.at(0).payload, "code");
    std::string token = ExtractJsonValue(TokenEndpointReply(body, SimTokenMode::Ok, auth).body, "access_token");
    sim.HandleFrame(Command(R"({"cmd":"AUTHENTICATE","args":{"access_token":")" + token + R"("},"nonce":"2"})"));
  }
  std::string Subscribe(const std::string& evt, const std::string& channel) {
    return sim.HandleFrame(Command(R"({"cmd":"SUBSCRIBE","evt":")" + evt + R"(","args":{"channel_id":")" + channel +
                                   R"("},"nonce":"5"})"))
        .frames.at(0)
        .payload;
  }
};

}  // namespace

TEST(SimScenario, ShippedScenariosParse) {
  auto has = [](const SimScenario& s, SimStepKind kind) {
    return std::any_of(s.timeline.begin(), s.timeline.end(), [&](const SimStep& step) { return step.kind == kind; });
  };
  SimScenario lively = Parse(ReadScenarioFile("default"));
  ASSERT_TRUE(lively.FindChannel(lively.selectedChannel));
  EXPECT_EQ(lively.FindChannel(lively.selectedChannel)->members.size(), 5u);
  EXPECT_TRUE(lively.loop);
  // The demo shows the overlay following Discord through a restart.
  for (SimStepKind kind : {SimStepKind::Speak, SimStepKind::Mute, SimStepKind::Join, SimStepKind::Restart})
    EXPECT_TRUE(has(lively, kind));
  Parse(ReadScenarioFile("switching"));
  SimScenario faults = Parse(ReadScenarioFile("faults"));
  for (SimStepKind kind : {SimStepKind::CutFrame, SimStepKind::Drop, SimStepKind::Close, SimStepKind::Bytes})
    EXPECT_TRUE(has(faults, kind));
}

TEST(SimScenario, ErrorsNameTheLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"channel 1 A\nmember 1 a\nselect 9\n", "line 3: no such channel: 9"},
      {"channel 1 A\nmember 1 a hat\n", "line 2: unknown member attribute: hat"},
      {"timeline\nspeak 1 maybe\n", "line 2: malformed step: speak 1 maybe"},
      {"timeline\ndance\n", "line 2: unknown step: dance"},
      {"timeline\nbytes 0100x0\n", "line 2: malformed step: bytes 0100x0"},
      {"timeline\nstall soon\n", "line 2: malformed step: stall soon"},
      {"handshake maybe\n", "line 1: cannot read: handshake maybe"},
      {"flavour vanilla\n", "line 1: cannot read: flavour vanilla"},
  };
  for (const auto& [text, expected] : cases) {
    std::string error;
    EXPECT_FALSE(ParseScenario(text, &error)) << text;
    EXPECT_EQ(error, expected);
  }
}

// Discord's connection rules: subscriptions belong to one connection, and
// every command but AUTHORIZE and AUTHENTICATE needs this connection's
// AUTHENTICATE.
TEST(SimDiscord, ConnectionRules) {
  Session session(kSmall);
  SimStep speak = *ParseScenarioStep("speak 2 on", nullptr);
  EXPECT_TRUE(session.sim.RunStep(speak).frames.empty());
  EXPECT_EQ(session.Subscribe("SPEAKING_START", "31"),
            R"({"cmd":"SUBSCRIBE","data":{"evt":"SPEAKING_START"},"evt":null,"nonce":"5"})");
  ASSERT_EQ(session.sim.RunStep(speak).frames.size(), 1u);

  session.sim.OnConnect();
  session.sim.HandleFrame(RpcFrame{kOpHandshake, R"({"v":1,"client_id":"118"})"});
  EXPECT_TRUE(session.sim.RunStep(speak).frames.empty());
  for (const char* command : {R"({"cmd":"GET_SELECTED_VOICE_CHANNEL","args":{},"nonce":"6"})",
                              R"({"cmd":"SUBSCRIBE","evt":"SPEAKING_START","args":{"channel_id":"31"},"nonce":"7"})",
                              R"({"cmd":"FROBNICATE","nonce":"8"})"}) {
    const std::string answer = session.sim.HandleFrame(Command(command)).frames.at(0).payload;
    EXPECT_EQ(ParseVoiceSnapshot(answer).errorCode, "4006") << command;
  }
  EXPECT_TRUE(session.sim.RunStep(speak).frames.empty());
  EXPECT_TRUE(session.sim.RunStep(*ParseScenarioStep("restart", nullptr)).restart);
  EXPECT_EQ(session.sim.RunStep(*ParseScenarioStep("stall 250", nullptr)).stallMs, 250u);
}

TEST(SimWeb, TokenEndpointModes) {
  SimAuthRegistry auth;
  std::string code = auth.IssueCode();
  EXPECT_EQ(code.size(), 30u);
  std::string body = "client_id=118&client_secret=s&grant_type=authorization_code&code=" + code;
  SimHttpReply ok = TokenEndpointReply(body, SimTokenMode::Ok, auth);
  EXPECT_EQ(ok.status, 200);
  EXPECT_TRUE(auth.IsToken(ExtractJsonValue(ok.body, "access_token")));
  // A code is good once.
  SimHttpReply reused = TokenEndpointReply(body, SimTokenMode::Ok, auth);
  EXPECT_EQ(reused.status, 400);
  EXPECT_EQ(ExtractJsonValue(reused.body, "error"), "invalid_grant");
  EXPECT_EQ(TokenEndpointReply("client_id=1&client_secret=&grant_type=authorization_code&code=x", SimTokenMode::Ok, auth)
                .status,
            401);
  EXPECT_EQ(ExtractJsonValue(TokenEndpointReply(body, SimTokenMode::Error, auth).body, "error_description"),
            R"(Invalid \"code\" in request.)");
  SimHttpReply html = TokenEndpointReply(body, SimTokenMode::NotJson, auth);
  EXPECT_EQ(html.contentType, "text/html");
  EXPECT_EQ(ExtractJsonValue(html.body, "access_token"), "");
}

