#include "app/voice_source.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "overlay/overlay_state.h"

namespace {

std::vector<VoiceUser> Users(const std::wstring& ids) {
  std::vector<VoiceUser> users;
  for (wchar_t id : ids) {
    VoiceUser user;
    user.id = std::wstring(1, id);
    user.displayName = L"name " + user.id;
    users.push_back(user);
  }
  return users;
}

std::wstring Ids(const std::vector<VoiceUser>& users, bool speakingOnly = false) {
  std::wstring ids;
  for (const VoiceUser& user : users)
    if (!speakingOnly || user.speaking) ids += user.id;
  return ids;
}

}  // namespace

// Every step hands what the chooser shows to the overlay, as the work loop
// does, at 100 ms per step: the members the overlay animates in at a step are
// only those new to the screen, never one who stayed through a switch.
TEST(VoiceSourceChooser, SwitchesSourcesWithoutDoublingDroppingOrReplaying) {
  using C = VoiceSourceChooser;
  struct Step {
    const char* what;
    std::function<bool(C&, uint32_t)> act;
    bool changed;
    VoiceSource source;
    std::wstring shown;
    std::wstring enters;  // members whose entry animation starts at this step
  };
  const Step steps[] = {
      {"nothing yet", [](C& c, uint32_t now) { return c.Advance(now); }, false, VoiceSource::None, L"", L""},
      {"RPC list", [](C& c, uint32_t) { return c.SetRpcList(Users(L"ab")); }, true, VoiceSource::Rpc, L"ab", L"ab"},
      {"feed goes live", [](C& c, uint32_t) { return c.SetFeedList(Users(L"bac")); }, true, VoiceSource::Plugin, L"bac", L"c"},
      {"RPC changes meanwhile", [](C& c, uint32_t) { return c.SetRpcList(Users(L"a")); }, false, VoiceSource::Plugin, L"bac", L""},
      {"feed names one twice", [](C& c, uint32_t) { return c.SetFeedList(Users(L"bacc")); }, false, VoiceSource::Plugin, L"bac", L""},
      {"feed speaking", [](C& c, uint32_t) { return c.SetFeedSpeaking(L"c", true); }, true, VoiceSource::Plugin, L"bac", L""},
      {"speaking of a stranger", [](C& c, uint32_t) { return c.SetFeedSpeaking(L"z", true); }, false, VoiceSource::Plugin, L"bac", L""},
      {"feed ends, RPC has its list", [](C& c, uint32_t now) { return c.EndFeed(now); }, true, VoiceSource::Rpc, L"a", L""},
      {"RPC list", [](C& c, uint32_t) { return c.SetRpcList(Users(L"ad")); }, true, VoiceSource::Rpc, L"ad", L"d"},
      {"feed back", [](C& c, uint32_t) { return c.SetFeedList(Users(L"adc")); }, true, VoiceSource::Plugin, L"adc", L"c"},
      {"RPC lost", [](C& c, uint32_t) { return c.LoseRpc(); }, false, VoiceSource::Plugin, L"adc", L""},
      {"feed ends, RPC not back: held", [](C& c, uint32_t now) { return c.EndFeed(now); }, false, VoiceSource::Plugin, L"adc", L""},
      {"speaking after the end", [](C& c, uint32_t) { return c.SetFeedSpeaking(L"a", true); }, false, VoiceSource::Plugin, L"adc", L""},
      {"RPC back, hands over", [](C& c, uint32_t) { return c.SetRpcList(Users(L"dc")); }, true, VoiceSource::Rpc, L"dc", L""},
      {"feed live, then ends; RPC lost", [](C& c, uint32_t now) {
         bool changed = c.SetFeedList(Users(L"dce"));
         changed = c.LoseRpc() || changed;
         return c.EndFeed(now) || changed;
       },
       true, VoiceSource::Plugin, L"dce", L"e"},
      {"held within the handover", [](C& c, uint32_t now) {
         // The end was 100 ms ago: Advance is due when the handover runs out.
         return c.MsUntilAdvance(now) != kSourceHandoverMs - 100 || c.Advance(now + kSourceHandoverMs - 200);
       },
       false, VoiceSource::Plugin, L"dce", L""},
      {"handover runs out", [](C& c, uint32_t now) { return c.Advance(now + kSourceHandoverMs); }, true, VoiceSource::None, L"", L""},
  };
  VoiceSourceChooser chooser;
  OverlayState overlay;
  uint32_t now = 1000;
  for (const Step& step : steps) {
    now += 100;
    EXPECT_EQ(step.act(chooser, now), step.changed) << step.what;
    EXPECT_EQ(chooser.Source(), step.source) << step.what;
    EXPECT_EQ(Ids(chooser.Shown()), step.shown) << step.what;
    if (step.changed) overlay.SetVoiceUsers(chooser.Shown(), now);
    std::wstring enters;
    for (const VoiceUser& user : overlay.users)
      if (user.joinTick == now) enters += user.id;
    EXPECT_EQ(enters, step.enters) << step.what;
    EXPECT_EQ(Ids(overlay.users), step.shown) << step.what;
  }
}

TEST(VoiceSourceChooser, SpeakingFollowsTheFeed) {
  VoiceSourceChooser chooser;
  chooser.SetFeedList(Users(L"abc"));
  chooser.SetFeedSpeaking(L"b", true);
  chooser.SetFeedSpeaking(L"c", true);
  chooser.SetFeedSpeaking(L"b", false);
  EXPECT_EQ(Ids(chooser.Shown(), true), L"c");
  chooser.SetFeedList(Users(L"abc"));  // a new list brings its own flags
  EXPECT_EQ(Ids(chooser.Shown(), true), L"");
}

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
