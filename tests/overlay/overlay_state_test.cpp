#include "overlay/overlay_state.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

VoiceUser Member(const wchar_t* id, bool bot = false, bool speaking = false) {
  VoiceUser user;
  user.id = id;
  user.username = id;
  user.bot = bot;
  user.speaking = speaking;
  user.joinTick = 5;  // the RPC client's value is never trusted
  return user;
}

std::wstring ShownIds(const OverlayState& state) {
  std::wstring ids;
  for (const VoiceUser& user : state.shown) ids += user.id;
  return ids;
}

OverlayNotification Card(const wchar_t* name) {
  OverlayNotification card;
  card.displayName = name;
  card.alpha = 0.2f;
  card.slideIn = 0.9f;
  return card;
}

constexpr uint32_t kNearWrap = 0xFFFFFF00u;  // 256 ms before the tick counter wraps

}  // namespace

TEST(OverlayStateMembers, HumansFirstAndJoinTicksKeptById) {
  OverlayState state;
  MemberCounts counts = state.SetVoiceUsers({Member(L"b1", true), Member(L"a"), Member(L"b2", true)}, kNearWrap);
  EXPECT_EQ(DescribeMemberCounts(counts), L"SetVoiceUsers: 3 users (1 users, 2 bots)");
  ASSERT_EQ(state.users.size(), 3u);
  EXPECT_EQ(state.users[0].id + state.users[1].id + state.users[2].id, L"ab1b2");
  EXPECT_EQ(state.users[0].joinTick, kNearWrap);

  state.SetVoiceUsers({Member(L"a"), Member(L"ab")}, kNearWrap + 200u);  // ids compare whole
  EXPECT_EQ(state.users[0].joinTick, kNearWrap);
  EXPECT_EQ(state.users[1].joinTick, kNearWrap + 200u);

  state.Update(kNearWrap + 499u, 5000);  // across the wrap: a still animates
  EXPECT_EQ(state.users[0].joinTick, kNearWrap);
  state.Update(kNearWrap + 500u, 5000);
  EXPECT_EQ(state.users[0].joinTick, 0u);
  EXPECT_EQ(state.users[1].joinTick, kNearWrap + 200u);
  state.SetVoiceUsers({Member(L"a")}, 1000);
  EXPECT_EQ(state.users[0].joinTick, 0u);  // ended stays ended

  state.SetVoiceUsers({}, 1100);  // a leaves, then comes back and animates again
  state.SetVoiceUsers({Member(L"a")}, 1200);
  EXPECT_EQ(state.users[0].joinTick, 1200u);
}

TEST(OverlayJoinScale, CurveAcrossTheWrap) {
  const std::pair<uint32_t, float> cases[] = {{0, 0.3f},     {125, 0.6625f}, {250, 0.65f},
                                              {375, 0.7625f}, {500, 1.0f},    {100000, 1.0f}};
  for (uint32_t start : {1000u, kNearWrap}) {
    VoiceUser user = Member(L"a");
    user.joinTick = start;
    for (const auto& c : cases) EXPECT_NEAR(JoinScale(user, start + c.first), c.second, 1e-4f) << c.first;
    for (uint32_t age = 0; age <= 500; ++age) EXPECT_LE(JoinScale(user, start + age), 1.0f);
  }
  EXPECT_EQ(JoinScale(Member(L"a"), 0), 1.0f);
  VoiceUser settled;
  EXPECT_EQ(JoinScale(settled, 12345), 1.0f);
}

TEST(OverlayStateCards, NewestFiveKept) {
  OverlayState state;
  for (const wchar_t* name : {L"1", L"2", L"3", L"4", L"5"}) state.AddNotification(Card(name), 100);
  EXPECT_EQ(state.AddNotification(Card(L"6"), 200), 6u);
  state.AddMessageNotification(L"sender", L"text", 300);
  ASSERT_EQ(state.notifications.size(), 5u);
  EXPECT_EQ(state.notifications.front().displayName, L"3");
  EXPECT_EQ(state.notifications[3].createdTick, 200u);
  EXPECT_EQ(state.notifications[3].alpha, 1.0f);
  EXPECT_EQ(state.notifications[3].slideIn, 0.0f);
  const OverlayNotification& message = state.notifications.back();
  EXPECT_EQ(message.username + L"|" + message.displayName + L"|" + message.content + L"|" + message.userId,
            L"sender|sender|text|");
  EXPECT_EQ(message.createdTick, 300u);
}

TEST(OverlayStateCards, SlideFadeAndExpiry) {
  struct Case {
    uint32_t duration, age;
    float slideIn, alpha;  // alpha < 0: removed
  };
  const Case cases[] = {
      {5000, 0, 0.0f, 1.0f},    {5000, 150, 0.5f, 1.0f},  {5000, 300, 1.0f, 1.0f}, {5000, 4500, 1.0f, 1.0f},
      {5000, 4750, 1.0f, 0.5f}, {5000, 5000, 1.0f, 0.0f}, {5000, 5001, 0, -1},     {400, 399, 1.0f, 1.0f},
      {400, 400, 1.0f, 1.0f},   {400, 401, 0, -1},        {0, 0, 0.0f, 1.0f},      {0, 1, 0, -1},
      {5000, 0xFFFFFFFFu, 0, -1},
  };
  for (uint32_t start : {1000u, kNearWrap}) {
    for (const Case& c : cases) {
      OverlayState state;
      state.AddNotification(Card(L"x"), start);
      state.Update(start + c.age, c.duration);
      SCOPED_TRACE(testing::Message() << start << " duration " << c.duration << " age " << c.age);
      ASSERT_EQ(state.notifications.size(), c.alpha < 0 ? 0u : 1u);
      if (c.alpha < 0) continue;
      EXPECT_NEAR(state.notifications[0].slideIn, c.slideIn, 1e-4f);
      EXPECT_NEAR(state.notifications[0].alpha, c.alpha, 1e-4f);
    }
  }
  OverlayState state;  // cards expire independently
  state.AddNotification(Card(L"old"), kNearWrap);
  state.AddNotification(Card(L"new"), kNearWrap + 1000u);
  state.Update(kNearWrap + 5750u, 5000);
  ASSERT_EQ(state.notifications.size(), 1u);
  EXPECT_NEAR(state.notifications[0].alpha, 0.5f, 1e-4f);
}

TEST(OverlayDrag, ColumnOffsetStaysOnScreen) {
  struct Case {
    int32_t start, travel, extent, expected;  // avatar 48, margin 20
  };
  const Case cases[] = {{20, 100, 1920, 120},  {20, 5000, 1920, 1852},           {20, -100, 1920, 0},
                        {20, 10, 50, 0},       {INT32_MAX, INT32_MAX, 1080, 1012}, {INT32_MIN, INT32_MIN, 1080, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(ClampColumnOffset(c.start, c.travel, c.extent, 48, 20), c.expected) << c.start << " " << c.travel;
}

// Speaking-only display: a tile from SPEAKING_START, kept 1.5 s after the
// stop (so the gaps between words do not flicker), the user's own tile
// always; hidden ids never, whatever the mode.
TEST(OverlayStateShown, SpeakingLingerSelfAndHidden) {
  OverlayState state;
  state.filter.showOnlySpeaking = true;
  state.filter.hiddenIds = L"h";
  state.selfId = L"s";
  const uint32_t t = kNearWrap;
  state.SetVoiceUsers({Member(L"a"), Member(L"s"), Member(L"h", false, true)}, t);
  EXPECT_EQ(ShownIds(state), L"s");
  EXPECT_EQ(state.MsUntilLingerEnds(t), kNoLinger);
  state.SetVoiceUsers({Member(L"a", false, true), Member(L"s"), Member(L"h")}, t + 600u);
  EXPECT_EQ(ShownIds(state), L"as");
  EXPECT_EQ(state.shown[0].joinTick, t + 600u);  // it enters with the entry animation
  state.SetVoiceUsers({Member(L"a"), Member(L"s"), Member(L"h")}, t + 1000u);  // stops
  EXPECT_EQ(state.MsUntilLingerEnds(t + 1200u), 1300u);
  state.SetVoiceUsers({Member(L"a", false, true), Member(L"s"), Member(L"h")}, t + 2000u);  // between words
  state.SetVoiceUsers({Member(L"a"), Member(L"s"), Member(L"h")}, t + 2100u);
  state.Update(t + 3599u, 5000);
  EXPECT_EQ(ShownIds(state), L"as");
  EXPECT_EQ(state.shown[0].joinTick, 0u);  // no second entry animation
  EXPECT_EQ(state.MsUntilLingerEnds(t + 3599u), 1u);
  state.Update(t + 3600u, 5000);
  EXPECT_EQ(ShownIds(state), L"s");
  EXPECT_EQ(state.MsUntilLingerEnds(t + 3600u), kNoLinger);

  state.filter.alwaysShowSelf = false;
  state.Update(t + 3700u, 5000);
  EXPECT_EQ(ShownIds(state), L"");
  state.filter.showOnlySpeaking = false;  // every member but the hidden one
  state.Update(t + 3800u, 5000);
  EXPECT_EQ(ShownIds(state), L"as");
  EXPECT_EQ(state.shown[0].joinTick, t + 3800u);
}

TEST(OverlayStateShown, NamesCutWithoutSplittingAPair) {
  const std::tuple<std::wstring, int32_t, std::wstring> rows[] = {
      {std::wstring(40, L'n'), 12, std::wstring(11, L'n') + L"\u2026"},
      {L"abc\xD83D\xDE00" L"def", 5, L"abc\u2026"},  // the pair would straddle the cut
      {L"abcd\xD83D\xDE00", 6, L"abcd\xD83D\xDE00"},
      {std::wstring(64, L'n'), 0, std::wstring(64, L'n')},
  };
  for (const auto& [name, limit, expected] : rows) {
    OverlayState state;
    state.filter.maxNameLength = limit;
    VoiceUser user = Member(L"a");
    user.displayName = name;
    state.SetVoiceUsers({user}, 1);
    ASSERT_EQ(state.shown.size(), 1u);
    EXPECT_EQ(state.shown[0].displayName, expected) << limit;
    EXPECT_EQ(state.users[0].displayName, name);  // the tray lists the whole name
  }
}
