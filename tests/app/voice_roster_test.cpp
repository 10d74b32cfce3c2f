#include "app/voice_roster.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "overlay/overlay_state.h"

namespace {

std::vector<VoiceUser> Users(const std::string& ids) {
  std::vector<VoiceUser> users;
  for (char id : ids) {
    VoiceUser user;
    user.id = std::string(1, id);
    user.displayName = L"name " + std::wstring(1, static_cast<wchar_t>(id));
    users.push_back(user);
  }
  return users;
}

std::string Ids(const std::vector<VoiceUser>& users, bool speakingOnly = false) {
  std::string ids;
  for (const VoiceUser& user : users)
    if (!speakingOnly || user.speaking) ids += user.id;
  return ids;
}

bool Changed(const RosterChange& change) { return change.Any(); }

bool Replace(VoiceRoster& roster, VoiceSource from, const std::string& ids) {
  std::string note;
  return roster.ReplaceList(from, Users(ids), &note).Any();
}

// The overlay as the work loop keeps it: a whole list, or one member's ring.
void Follow(OverlayState& overlay, const VoiceRoster& roster, const RosterChange& change, uint32_t now) {
  if (change.kind == RosterChange::Kind::Members) overlay.SetVoiceUsers(roster.Shown(), now);
  if (change.kind == RosterChange::Kind::Speaking) overlay.SetSpeaking(change.id, change.speaking, now);
}

}  // namespace

// Every step hands what the roster shows to the overlay, as the work loop
// does, at 100 ms per step: the members the overlay animates in at a step are
// only those new to the screen, never one who stayed through a switch.
TEST(VoiceRoster, SwitchesSourcesWithoutDoublingDroppingOrReplaying) {
  using R = VoiceRoster;
  using S = VoiceSource;
  struct Step {
    const char* what;
    std::function<bool(R&, uint32_t)> act;
    bool changed;
    VoiceSource source;
    std::string shown;
    std::string enters;  // members whose entry animation starts at this step
  };
  const Step steps[] = {
      {"nothing yet", [](R& r, uint32_t now) { return Changed(r.Advance(now)); }, false, S::None, "", ""},
      {"RPC list", [](R& r, uint32_t) { return Replace(r, S::Rpc, "ab"); }, true, S::Rpc, "ab", "ab"},
      {"feed goes live", [](R& r, uint32_t) { return Replace(r, S::Plugin, "bac"); }, true, S::Plugin, "bac", "c"},
      {"RPC changes meanwhile", [](R& r, uint32_t) { return Replace(r, S::Rpc, "a"); }, false, S::Plugin, "bac", ""},
      {"feed names one twice: the first stands", [](R& r, uint32_t) { return Replace(r, S::Plugin, "bacc"); }, false,
       S::Plugin, "bac", ""},
      {"feed speaking", [](R& r, uint32_t) { return Changed(r.SetSpeaking(S::Plugin, "c", true)); }, true, S::Plugin,
       "bac", ""},
      {"speaking of a stranger", [](R& r, uint32_t) { return Changed(r.SetSpeaking(S::Plugin, "z", true)); }, false,
       S::Plugin, "bac", ""},
      {"RPC speaking while the feed shows", [](R& r, uint32_t) { return Changed(r.SetSpeaking(S::Rpc, "a", true)); },
       false, S::Plugin, "bac", ""},
      {"feed ends, RPC has its list", [](R& r, uint32_t now) { return Changed(r.EndFeed(now)); }, true, S::Rpc, "a", ""},
      {"RPC list", [](R& r, uint32_t) { return Replace(r, S::Rpc, "ad"); }, true, S::Rpc, "ad", "d"},
      {"feed change after its end", [](R& r, uint32_t) { return Changed(r.PutFeedMember(Users("x")[0], "")); }, false,
       S::Rpc, "ad", ""},
      {"feed back", [](R& r, uint32_t) { return Replace(r, S::Plugin, "adc"); }, true, S::Plugin, "adc", "c"},
      {"a member joins before d", [](R& r, uint32_t) { return Changed(r.PutFeedMember(Users("e")[0], "d")); }, true,
       S::Plugin, "aedc", "e"},
      {"a member leaves", [](R& r, uint32_t) { return Changed(r.RemoveFeedMember("e")); }, true, S::Plugin, "adc", ""},
      {"RPC lost", [](R& r, uint32_t) { return Changed(r.LoseRpc()); }, false, S::Plugin, "adc", ""},
      {"feed ends, RPC not back: held", [](R& r, uint32_t now) { return Changed(r.EndFeed(now)); }, false, S::Plugin,
       "adc", ""},
      {"speaking after the end", [](R& r, uint32_t) { return Changed(r.SetSpeaking(S::Plugin, "a", true)); }, false,
       S::Plugin, "adc", ""},
      {"RPC back, hands over", [](R& r, uint32_t) { return Replace(r, S::Rpc, "dc"); }, true, S::Rpc, "dc", ""},
      {"feed live, then ends; RPC lost", [](R& r, uint32_t now) {
         bool changed = Replace(r, S::Plugin, "dce");
         changed = Changed(r.LoseRpc()) || changed;
         return Changed(r.EndFeed(now)) || changed;
       },
       true, S::Plugin, "dce", "e"},
      {"held within the handover", [](R& r, uint32_t now) {
         // The end was 100 ms ago: Advance is due when the handover runs out.
         return r.MsUntilAdvance(now) != kSourceHandoverMs - 100 || Changed(r.Advance(now + kSourceHandoverMs - 200));
       },
       false, S::Plugin, "dce", ""},
      {"handover runs out", [](R& r, uint32_t now) { return Changed(r.Advance(now + kSourceHandoverMs)); }, true,
       S::None, "", ""},
  };
  VoiceRoster roster;
  OverlayState overlay;
  uint32_t now = 1000;
  for (const Step& step : steps) {
    now += 100;
    EXPECT_EQ(step.act(roster, now), step.changed) << step.what;
    EXPECT_EQ(roster.Source(), step.source) << step.what;
    EXPECT_EQ(Ids(roster.Shown()), step.shown) << step.what;
    if (step.changed) overlay.SetVoiceUsers(roster.Shown(), now);
    std::string enters;
    for (const VoiceUser& user : overlay.users)
      if (overlay.joinTicks.at(user.id) == now) enters += user.id;
    EXPECT_EQ(enters, step.enters) << step.what;
    EXPECT_EQ(Ids(overlay.users), step.shown) << step.what;
  }
}

// A ring reaches the overlay as that member's flag: the overlay's copy of the
// list is not replaced (its records stay where they are), and a new list
// brings its own flags.
TEST(VoiceRoster, SpeakingFlipsOneFlag) {
  VoiceRoster roster;
  OverlayState overlay;
  std::string note;
  Follow(overlay, roster, roster.ReplaceList(VoiceSource::Plugin, Users("abc"), &note), 1);
  const VoiceUser* const first = overlay.users.data();
  for (const auto& [id, speaking] : {std::pair<const char*, bool>{"b", true}, {"c", true}, {"b", false}}) {
    const RosterChange change = roster.SetSpeaking(VoiceSource::Plugin, id, speaking);
    EXPECT_EQ(change.kind, RosterChange::Kind::Speaking) << id;
    EXPECT_EQ(change.id, id);
    Follow(overlay, roster, change, 2);
  }
  EXPECT_EQ(Ids(roster.Shown(), true), "c");
  EXPECT_EQ(Ids(overlay.users, true), "c");
  EXPECT_EQ(overlay.users.data(), first);
  ASSERT_EQ(overlay.shown.size(), 3u);
  EXPECT_TRUE(overlay.shown[2].speaking && !overlay.shown[1].speaking);
  roster.ReplaceList(VoiceSource::Plugin, Users("abc"), &note);  // a new list brings its own flags
  EXPECT_EQ(Ids(roster.Shown(), true), "");
  // The RPC client's rings, once its list is shown.
  roster.ReplaceList(VoiceSource::Rpc, Users("ab"), &note);
  roster.EndFeed(10);
  EXPECT_EQ(roster.SetSpeaking(VoiceSource::Rpc, "a", true).kind, RosterChange::Kind::Speaking);
  EXPECT_EQ(Ids(roster.Shown(), true), "a");
}

// One rule for both sources: the first of an id stands, the later ones go,
// and the note names the member.
TEST(VoiceRoster, MemberNamedTwiceKeepsTheFirst) {
  for (VoiceSource from : {VoiceSource::Plugin, VoiceSource::Rpc}) {
    VoiceRoster roster;
    std::vector<VoiceUser> users = Users("abab");
    users[2].displayName = L"later a";
    std::string note;
    EXPECT_TRUE(roster.ReplaceList(from, users, &note).Any());
    EXPECT_EQ(note, "member a named twice: the first stands");
    EXPECT_EQ(Ids(roster.Shown()), "ab");
    EXPECT_EQ(roster.Shown()[0].displayName, L"name a");
    EXPECT_FALSE(roster.ReplaceList(from, Users("ab"), &note).Any());
    EXPECT_EQ(note, "");
  }
}

// The user's id comes from either source; the shown source's own is used,
// else the other's.
TEST(VoiceRoster, SelfIdFromEitherSource) {
  struct Step {
    const char* what;
    std::function<bool(VoiceRoster&)> act;
    bool changed;
    std::string self;
  };
  std::string note;
  const Step steps[] = {
      {"RPC's READY", [](VoiceRoster& r) { return r.SetSelfId(VoiceSource::Rpc, "1"); }, true, "1"},
      {"the same again", [](VoiceRoster& r) { return r.SetSelfId(VoiceSource::Rpc, "1"); }, false, "1"},
      {"feed's list names none", [&](VoiceRoster& r) {
         r.ReplaceList(VoiceSource::Plugin, Users("ab"), &note);
         return r.SetSelfId(VoiceSource::Plugin, "");
       },
       false, "1"},
      {"feed's list names one", [](VoiceRoster& r) { return r.SetSelfId(VoiceSource::Plugin, "2"); }, true, "2"},
      {"the feed ends, the RPC list comes", [&](VoiceRoster& r) {
         r.EndFeed(5);
         r.ReplaceList(VoiceSource::Rpc, Users("a"), &note);
         return false;
       },
       false, "1"},
  };
  VoiceRoster roster;
  for (const Step& step : steps) {
    EXPECT_EQ(step.act(roster), step.changed) << step.what;
    EXPECT_EQ(roster.SelfId(), step.self) << step.what;
  }
}
