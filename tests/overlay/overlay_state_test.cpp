#include "overlay/overlay_state.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

VoiceUser Member(const char* id, bool bot = false, bool speaking = false) {
  VoiceUser user;
  user.id = id;
  user.username = std::wstring(id, id + std::char_traits<char>::length(id));
  user.bot = bot;
  user.speaking = speaking;
  return user;
}

std::string ShownIds(const OverlayState& state) {
  std::string ids;
  for (const MemberTile& tile : state.shown) ids += tile.id;
  return ids;
}

constexpr uint32_t kNearWrap = 0xFFFFFF00u;  // 256 ms before the tick counter wraps

}  // namespace

// Join ticks are kept by id across updates; an ended animation must not
// restart from a stale tick, but a member who leaves and comes back animates.
TEST(OverlayStateMembers, HumansFirstAndJoinTicksKeptById) {
  OverlayState state;
  state.SetVoiceUsers({Member("b1", true), Member("a"), Member("b2", true)}, kNearWrap);
  ASSERT_EQ(state.users.size(), 3u);
  EXPECT_EQ(state.users[0].id + state.users[1].id + state.users[2].id, "ab1b2");
  state.SetVoiceUsers({Member("a"), Member("ab")}, kNearWrap + 200u);  // ids compare whole
  EXPECT_EQ(state.joinTicks.at("a"), kNearWrap);
  EXPECT_EQ(state.joinTicks.at("ab"), kNearWrap + 200u);
  EXPECT_LT(JoinScale(state.joinTicks.at("a"), kNearWrap + 499u), 1.0f);  // across the wrap: a still animates
  state.Update(kNearWrap + 499u, 5000);
  EXPECT_EQ(state.joinTicks.at("a"), kNearWrap);
  state.Update(kNearWrap + 500u, 5000);
  EXPECT_EQ(state.joinTicks.at("a"), 0u);
  state.SetVoiceUsers({Member("a")}, 1000);
  EXPECT_EQ(state.joinTicks.at("a"), 0u);  // ended stays ended
  state.SetVoiceUsers({}, 1100);
  state.SetVoiceUsers({Member("a")}, 1200);
  EXPECT_EQ(state.joinTicks.at("a"), 1200u);
}

// Cards fade out over their last 500 ms and leave at the end, each on its own
// clock, across the tick counter's wrap.
TEST(OverlayStateCards, NewestFiveKeptEachFadingOnItsOwn) {
  OverlayState state;
  OverlayNotification card;
  for (const wchar_t* name : {L"1", L"2", L"3", L"4", L"5"}) {
    card.data.displayName = name;
    state.AddNotification(card, kNearWrap);
  }
  EXPECT_EQ(state.AddNotification(card, kNearWrap + 1000u), 6u);
  state.AddMessageNotification(L"sender", L"text", kNearWrap + 1000u);
  ASSERT_EQ(state.notifications.size(), 5u);
  EXPECT_EQ(state.notifications.front().data.displayName, L"3");
  EXPECT_EQ(state.notifications.back().data.username + state.notifications.back().data.content, L"sendertext");
  state.Update(kNearWrap + 5001u, 5000);  // the first three have gone
  ASSERT_EQ(state.notifications.size(), 2u);
  state.Update(kNearWrap + 5750u, 5000);
  EXPECT_NEAR(state.notifications[0].alpha, 0.5f, 1e-4f);
  state.Update(kNearWrap + 0xFFFFFFFFu, 5000);
  EXPECT_TRUE(state.notifications.empty());
}

// Speaking-only display: a tile from SPEAKING_START, kept 1.5 s after the
// stop (so the gaps between words do not flicker), the user's own tile
// always; hidden ids never, whatever the mode.
TEST(OverlayStateShown, SpeakingLingerSelfAndHidden) {
  OverlayState state;
  state.filter.showOnlySpeaking = true;
  state.filter.hiddenIds = {"h"};
  state.selfId = "s";
  const uint32_t t = kNearWrap;
  state.SetVoiceUsers({Member("a"), Member("s"), Member("h", false, true)}, t);
  EXPECT_EQ(ShownIds(state), "s");
  state.SetVoiceUsers({Member("a", false, true), Member("s"), Member("h")}, t + 600u);
  EXPECT_EQ(ShownIds(state), "as");
  EXPECT_EQ(state.shown[0].joinTick, t + 600u);  // it enters with the entry animation
  state.SetVoiceUsers({Member("a"), Member("s"), Member("h")}, t + 1000u);  // stops
  EXPECT_EQ(state.MsUntilLingerEnds(t + 1200u), 1300u);
  state.SetVoiceUsers({Member("a", false, true), Member("s"), Member("h")}, t + 2000u);  // between words
  state.SetVoiceUsers({Member("a"), Member("s"), Member("h")}, t + 2100u);
  state.Update(t + 3599u, 5000);
  EXPECT_EQ(ShownIds(state), "as");
  EXPECT_EQ(state.MsUntilLingerEnds(t + 3650u), 0u);  // a late timer still finds the tile due
  EXPECT_EQ(state.shown[0].joinTick, 0u);  // no second entry animation
  state.Update(t + 3600u, 5000);
  EXPECT_EQ(ShownIds(state), "s");
  EXPECT_EQ(state.MsUntilLingerEnds(t + 3600u), kNoLinger);
  MemberFilter filter = state.filter;
  filter.alwaysShowSelf = false;
  state.SetFilter(filter, t + 3700u);
  state.Update(t + 3700u, 5000);
  EXPECT_EQ(ShownIds(state), "");
  filter.showOnlySpeaking = false;  // every member but the hidden one
  state.SetFilter(filter, t + 3800u);
  state.Update(t + 3800u, 5000);
  EXPECT_EQ(ShownIds(state), "as");
}

// A ring alone flips the member's flag where it is held: the tiles are not
// rebuilt (a running entry animation goes on), and under speaking-only
// display the stop starts the linger as a whole list would.
TEST(OverlayStateShown, SpeakingFlipsOneMember) {
  OverlayState state;
  state.SetVoiceUsers({Member("a"), Member("b"), Member("c")}, 1000);
  const MemberTile* tiles = state.shown.data();
  EXPECT_TRUE(state.SetSpeaking("b", true, 1100));
  EXPECT_FALSE(state.SetSpeaking("b", true, 1150));  // no news
  EXPECT_FALSE(state.SetSpeaking("z", true, 1150));  // a stranger
  EXPECT_EQ(state.shown.data(), tiles);
  EXPECT_TRUE(state.users[1].speaking && state.shown[1].speaking && !state.shown[0].speaking);
  EXPECT_EQ(state.shown[1].joinTick, 1000u);

  MemberFilter only;
  only.showOnlySpeaking = true;
  state.SetFilter(only, 1200);
  EXPECT_EQ(ShownIds(state), "b");
  EXPECT_TRUE(state.SetSpeaking("b", false, 1300));
  EXPECT_EQ(state.MsUntilLingerEnds(1400), 1400u);
  state.Update(1799, 5000);
  EXPECT_EQ(ShownIds(state), "b");
  state.Update(2800, 5000);
  EXPECT_EQ(ShownIds(state), "");
  state.SetSpeaking("c", true, 2900);
  EXPECT_EQ(ShownIds(state), "c");
}

// The limit counts what a reader sees as one character.
TEST(OverlayStateShown, NamesCutBetweenUserPerceivedCharacters) {
  const std::wstring flag = L"\xD83C\xDDEF\xD83C\xDDF5";                         // JP
  const std::wstring thumb = L"\xD83D\xDC4D\xD83C\xDFFD";                        // skin tone
  const std::wstring coder = L"\xD83D\xDC69\x200D\xD83D\xDCBB";                 // woman, ZWJ, laptop
  const std::wstring hindi = L"\x0939\x093F\x0928\x094D\x0926\x0940";           // three letters with their signs
  const std::tuple<std::wstring, int32_t, std::wstring> rows[] = {
      {std::wstring(40, L'n'), 12, std::wstring(11, L'n') + L"\u2026"},
      {L"abc\xD83D\xDE00" L"def", 5, L"abc\xD83D\xDE00\u2026"},  // the pair counts once
      {L"abcd\xD83D\xDE00", 6, L"abcd\xD83D\xDE00"},
      {flag + flag + flag + L"abcd", 6, flag + flag + flag + L"ab\u2026"},
      {L"ab" + thumb + coder + L"xyz", 5, L"ab" + thumb + coder + L"\u2026"},
      {L"abc" + coder + L"xyz", 4, L"abc\u2026"},  // the sequence is kept whole or left out
      {L"e\x0301" L"e\x0301" L"e\x0301" L"e\x0301" L"e\x0301", 4, L"e\x0301" L"e\x0301" L"e\x0301\u2026"},
      {hindi + hindi, 4, hindi + L"\u2026"},
      {L"\xDC00lone" + std::wstring(10, L'x'), 4, L"\xDC00lo\u2026"},  // a broken pair counts as a character
  };
  for (const auto& [name, limit, expected] : rows) {
    OverlayState state;
    state.filter.maxNameLength = limit;
    VoiceUser user = Member("a");
    user.displayName = name;
    state.SetVoiceUsers({user}, 1);
    ASSERT_EQ(state.shown.size(), 1u);
    EXPECT_EQ(state.shown[0].displayName, expected) << limit;
    EXPECT_EQ(state.users[0].displayName, name);  // the tray lists the whole name
  }
}
