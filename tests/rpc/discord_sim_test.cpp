// The simulator's own rules: scenario files and Discord's connection rules.
// Its answers are read back with the client's parser, so the two sides agree
// on the shapes.
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
}

// Subscriptions belong to one connection, and every command but AUTHORIZE
// and AUTHENTICATE needs this connection's AUTHENTICATE.
TEST(SimDiscord, ConnectionRules) {
  SimAuthRegistry auth;
  SimDiscord sim(Parse("channel 31 General\nmember 2 bob\nselect 31\n"), auth);
  const SimStep speak = *ParseScenarioStep("speak 2 on", nullptr);
  auto answer = [&](const std::string& command) { return sim.HandleFrame(Command(command)).frames.at(0).payload; };
  const std::string subscribe = R"({"cmd":"SUBSCRIBE","evt":"SPEAKING_START","args":{"channel_id":"31"},"nonce":"7"})";
  for (int connection = 0; connection < 2; ++connection) {
    sim.OnConnect();
    sim.HandleFrame(RpcFrame{kOpHandshake, R"({"v":1,"client_id":"118"})"});
    for (const std::string& command : {std::string(R"({"cmd":"GET_SELECTED_VOICE_CHANNEL","args":{},"nonce":"6"})"),
                                       subscribe, std::string(R"({"cmd":"FROBNICATE","nonce":"8"})")})
      EXPECT_EQ(ParseVoiceSnapshot(answer(command)).errorCode, "4006") << command;
    EXPECT_TRUE(sim.RunStep(speak).frames.empty());
    answer(R"({"cmd":"AUTHENTICATE","args":{"access_token":")" + auth.RedeemCode(auth.IssueCode()) +
           R"("},"nonce":"2"})");
    EXPECT_TRUE(sim.RunStep(speak).frames.empty());
    EXPECT_EQ(answer(subscribe), R"({"cmd":"SUBSCRIBE","data":{"evt":"SPEAKING_START"},"evt":null,"nonce":"7"})");
    EXPECT_EQ(sim.RunStep(speak).frames.size(), 1u);
  }
}
