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
channel 32 Gaming
member 6 erin
select 31
timeline
wait 100
speak 2 on
wait 50
wait 50
leave 2
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
  SimScenario lively = Parse(ReadScenarioFile("default"));
  ASSERT_FALSE(lively.channels.empty());
  ASSERT_TRUE(lively.FindChannel(lively.selectedChannel));
  const auto& members = lively.FindChannel(lively.selectedChannel)->members;
  EXPECT_EQ(members.size(), 5u);
  EXPECT_EQ(std::count_if(members.begin(), members.end(), [](const SimMember& m) { return m.bot; }), 1);
  EXPECT_TRUE(lively.loop);
  auto has = [&](SimStepKind kind) {
    return std::any_of(lively.timeline.begin(), lively.timeline.end(), [&](const SimStep& s) { return s.kind == kind; });
  };
  for (SimStepKind kind : {SimStepKind::Speak, SimStepKind::Mute, SimStepKind::Deafen, SimStepKind::Join, SimStepKind::Leave})
    EXPECT_TRUE(has(kind));
  Parse(ReadScenarioFile("switching"));
  SimScenario faults = Parse(ReadScenarioFile("faults"));
  for (SimStepKind kind : {SimStepKind::CutFrame, SimStepKind::Drop, SimStepKind::Close, SimStepKind::Bytes})
    EXPECT_TRUE(std::any_of(faults.timeline.begin(), faults.timeline.end(),
                            [&](const SimStep& s) { return s.kind == kind; }));
}

TEST(SimScenario, ReadsMembersStepsAndDelays) {
  SimScenario s = Parse(kSmall);
  ASSERT_EQ(s.channels.size(), 2u);
  EXPECT_EQ(s.channels[0].members[1].nick, "Big Bob");
  EXPECT_TRUE(s.channels[0].members[1].selfMute);
  ASSERT_EQ(s.timeline.size(), 2u);
  EXPECT_EQ(s.timeline[0].delayMs, 100u);
  EXPECT_EQ(s.timeline[1].delayMs, 100u);  // waits add up
  EXPECT_EQ(s.timeline[1].kind, SimStepKind::Leave);
}

TEST(SimScenario, ErrorsNameTheLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"channel 1 A\nmember 1 a\nselect 9\n", "line 3: no such channel: 9"},
      {"channel 1 A\nmember 1 a hat\n", "line 2: unknown member attribute: hat"},
      {"timeline\nspeak 1 maybe\n", "line 2: malformed step: speak 1 maybe"},
      {"timeline\ndance\n", "line 2: unknown step: dance"},
      {"timeline\nbytes 0100x0\n", "line 2: malformed step: bytes 0100x0"},
      {"timeline\nbytes 010\n", "line 2: malformed step: bytes 010"},
      {"handshake maybe\n", "line 1: cannot read: handshake maybe"},
      {"flavour vanilla\n", "line 1: cannot read: flavour vanilla"},
  };
  for (const auto& [text, expected] : cases) {
    std::string error;
    EXPECT_FALSE(ParseScenario(text, &error)) << text;
    EXPECT_EQ(error, expected);
  }
}

TEST(SimDiscord, HandshakeAndAuthorization) {
  SimAuthRegistry auth;
  SimDiscord sim(Parse(kSmall), auth);
  sim.OnConnect();
  EXPECT_TRUE(sim.HandleFrame(Command(R"({"cmd":"AUTHORIZE"})")).close);  // before the handshake
  sim.OnConnect();
  EXPECT_TRUE(sim.HandleFrame(RpcFrame{kOpHandshake, R"({"v":1,"client_id":"abc"})"}).close);
  sim.OnConnect();
  SimReply ready = sim.HandleFrame(RpcFrame{kOpHandshake, R"({"v":1,"client_id":"118"})"});
  ASSERT_EQ(ready.frames.size(), 1u);
  EXPECT_TRUE(ContainsText(ready.frames[0].payload, "\"evt\":\"READY\""));
  SimReply early = sim.HandleFrame(Command(R"({"cmd":"GET_SELECTED_VOICE_CHANNEL","args":{},"nonce":"3"})"));
  EXPECT_EQ(ParseVoiceSnapshot(early.frames.at(0).payload).errorCode, "4006");
  SimReply wrongId = sim.HandleFrame(
      Command(R"({"cmd":"AUTHORIZE","args":{"client_id":"999","scopes":["rpc","rpc.voice.read"]},"nonce":"4"})"));
  EXPECT_EQ(ExtractJsonValue(wrongId.frames.at(0).payload, "evt"), "ERROR");
  SimReply pong = sim.HandleFrame(RpcFrame{kOpPing, "1234567"});
  EXPECT_EQ(pong.frames.at(0).opcode, static_cast<uint32_t>(kOpPong));
  EXPECT_EQ(pong.frames.at(0).payload, "1234567");
}

TEST(SimDiscord, FaultSteps) {
  Session session(kSmall);
  SimReply cut = session.sim.RunStep(*ParseScenarioStep(R"(cut_frame {"cmd":"DISPATCH"})", nullptr));
  EXPECT_TRUE(cut.frames.empty());
  EXPECT_EQ(cut.bytes, EncodeRpcFrame(kOpFrame, R"({"cmd":"DISPATCH"})").substr(0, 8 + 9));
  EXPECT_FALSE(cut.drop || cut.close);
  SimReply bytes = session.sim.RunStep(*ParseScenarioStep("bytes 01000000fFfFffff", nullptr));
  EXPECT_EQ(bytes.bytes, std::string("\x01\0\0\0\xff\xff\xff\xff", 8));
  EXPECT_TRUE(session.sim.RunStep(*ParseScenarioStep("drop", nullptr)).drop);

  SimAuthRegistry auth;
  SimDiscord silent(Parse(std::string("handshake silent\n") + kSmall), auth);
  silent.OnConnect();
  SimReply none = silent.HandleFrame(RpcFrame{kOpHandshake, R"({"v":1,"client_id":"118"})"});
  EXPECT_TRUE(none.frames.empty());
  EXPECT_FALSE(none.close);
}

TEST(SimDiscord, SnapshotReadsBackWithTheClientParser) {
  Session session(kSmall);
  SimReply reply = session.sim.HandleFrame(Command(R"({"cmd":"GET_SELECTED_VOICE_CHANNEL","args":{},"nonce":"3"})"));
  VoiceSnapshot snapshot = ParseVoiceSnapshot(reply.frames.at(0).payload);
  ASSERT_EQ(snapshot.status, SnapshotStatus::Members);
  EXPECT_EQ(snapshot.channelId, "31");
  ASSERT_EQ(snapshot.users.size(), 2u);
  EXPECT_EQ(snapshot.users[0].displayName, L"Alice");
  EXPECT_EQ(snapshot.users[1].displayName, L"Big Bob");
  EXPECT_TRUE(snapshot.users[1].muted);
  EXPECT_EQ(ExtractJsonValue(reply.frames[0].payload, "nonce"), "3");
}

TEST(SimDiscord, EventsOnlyForSubscriptions) {
  Session session(kSmall);
  SimStep speak = *ParseScenarioStep("speak 2 on", nullptr);
  EXPECT_TRUE(session.sim.RunStep(speak).frames.empty());
  EXPECT_EQ(session.Subscribe("SPEAKING_START", "31"), R"({"cmd":"SUBSCRIBE","data":{"evt":"SPEAKING_START"},"evt":null,"nonce":"5"})");
  SimReply event = session.sim.RunStep(speak);
  ASSERT_EQ(event.frames.size(), 1u);
  EXPECT_EQ(event.frames[0].payload,
            R"({"cmd":"DISPATCH","data":{"channel_id":"31","user_id":"2"},"evt":"SPEAKING_START","nonce":null})");

  // Deafening also mutes, as in the real client.
  session.Subscribe("VOICE_STATE_UPDATE", "31");
  SimReply deafen = session.sim.RunStep(*ParseScenarioStep("deafen 1 on", nullptr));
  std::vector<VoiceUser> users(1);
  users[0].id = L"1";
  ASSERT_TRUE(ApplyVoiceEvent(deafen.frames.at(0).payload, users, [](const std::string&) {}));
  EXPECT_TRUE(users[0].deafened && users[0].muted);

  // After a switch, channel 31's subscriptions no longer apply.
  session.Subscribe("VOICE_CHANNEL_SELECT", "");
  SimReply select = session.sim.RunStep(*ParseScenarioStep("switch 32", nullptr));
  EXPECT_EQ(ExtractJsonValue(select.frames.at(0).payload, "channel_id"), "32");
  EXPECT_TRUE(session.sim.RunStep(*ParseScenarioStep("speak 6 on", nullptr)).frames.empty());
  SimReply leave = session.sim.RunStep(*ParseScenarioStep("leave_channel", nullptr));
  EXPECT_TRUE(ContainsText(leave.frames.at(0).payload, R"("channel_id":null)"));
}

TEST(SimDiscord, TimelineStartsWithAuthenticationAndLoops) {
  SimAuthRegistry auth;
  SimDiscord idle(Parse(kSmall), auth);
  idle.OnConnect();
  EXPECT_FALSE(idle.TimelineActive());
  Session session(kSmall);
  ASSERT_TRUE(session.sim.TimelineActive());
  EXPECT_EQ(session.sim.NextStepDelayMs(), 100u);
  session.sim.RunNextStep();
  session.sim.RunNextStep();
  EXPECT_TRUE(session.sim.TimelineActive());  // looped
  EXPECT_EQ(session.sim.NextStepDelayMs(), 100u);
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

TEST(SimWeb, AvatarPaths) {
  auto png = AvatarPng("/avatars/100/abcdef.png", "size=32");
  ASSERT_TRUE(png);
  EXPECT_EQ(png->substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(png->substr(16, 8), std::string("\0\0\0\x20\0\0\0\x20", 8));  // 32 x 32
  EXPECT_EQ(png->substr(png->size() - 12), std::string("\0\0\0\0IEND\xae\x42\x60\x82", 12));
  EXPECT_NE(*AvatarPng("/avatars/100/abcdef.png", ""), *AvatarPng("/avatars/100/other.png", ""));
  for (const char* bad : {"/avatars/100.png", "/avatars//x.png", "/avatars/1/x.jpg", "/icons/1/x.png", "/avatars/1/2/3.png"})
    EXPECT_FALSE(AvatarPng(bad, "")) << bad;
}
