#include "app/voice_source.h"

#include <gtest/gtest.h>

#include <string>

TEST(PlanRpc, PluginFirstThenDiscordsOwnWay) {
  struct Case {
    const char* what;
    RpcFacts facts;  // pluginInstalled, registeredApp, feedLive, feedSeen, msSinceStart, twoWaysTold
    bool connect, authorize, tellTwoWays;
  };
  const Case cases[] = {
      {"no plugin, an application: today's way", {false, true, false, false, 0, false}, true, true, false},
      {"plugin installed: its feed is awaited", {true, true, false, false, kFeedWaitMs - 1, false}, true, false, false},
      {"no feed in time", {true, true, false, false, kFeedWaitMs, false}, true, true, false},
      {"feed live: no dialog", {true, true, true, true, 20000, false}, true, false, false},
      {"feed ended: RPC takes over at once", {true, true, false, true, 3000, false}, true, true, false},
      {"placeholder, feed live: RPC left alone", {true, false, true, true, 20000, false}, false, false, false},
      {"placeholder, waiting", {true, false, false, false, 5000, false}, false, false, false},
      {"placeholder, plugin silent", {true, false, false, false, kFeedWaitMs, false}, false, false, true},
      {"placeholder, feed ended", {true, false, false, true, 3000, false}, false, false, true},
      {"placeholder, no plugin: a stand-in of Discord may take it", {false, false, false, false, 0, false}, true, true, true},
      {"said once", {false, false, false, false, 0, true}, true, true, false},
  };
  for (const Case& c : cases) {
    const RpcPlan plan = PlanRpc(c.facts);
    EXPECT_EQ(plan.connect, c.connect) << c.what;
    EXPECT_EQ(plan.authorize, c.authorize) << c.what;
    EXPECT_EQ(plan.tellTwoWays, c.tellTwoWays) << c.what;
  }
}

// BetterDiscord's data/<channel>/plugins.json: only "Tallybell": true is on.
TEST(PluginEnabledIn, OnlyWhenBetterDiscordSwitchedItOn) {
  const std::pair<const char*, bool> cases[] = {
      {R"({"Tallybell":true,"Other":false})", true}, {R"({"Tallybell":false})", false}, {R"({"Other":true})", false},
      {R"({"Tallybell":"true"})", false},            {"", false},                       {R"({"Tallybell":tru)", false},
  };
  for (const auto& [text, enabled] : cases) EXPECT_EQ(PluginEnabledIn(text), enabled) << text;
}
