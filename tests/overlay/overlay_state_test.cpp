#include "overlay/overlay_state.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

VoiceUser Member(const wchar_t* id, bool bot = false) {
  VoiceUser user;
  user.id = id;
  user.username = id;
  user.bot = bot;
  return user;
}

OverlayNotification Card(const wchar_t* name) {
  OverlayNotification card;
  card.displayName = name;
  card.content = L"hello";
  card.createdTick = 7;  // overwritten on add
  card.alpha = 0.2f;
  card.slideIn = 0.9f;
  return card;
}

// Ticks chosen so that the counter wraps during the card's or tile's life.
constexpr uint32_t kNearWrap = 0xFFFFFF00u;  // 256 ms before the wrap

}  // namespace

TEST(OverlayStateMembers, HumansBeforeBotsInIncomingOrder) {
  OverlayState state;
  MemberCounts counts =
      state.SetVoiceUsers({Member(L"b1", true), Member(L"h1"), Member(L"b2", true), Member(L"h2")}, 1000);
  ASSERT_EQ(state.users.size(), 4u);
  EXPECT_EQ(state.users[0].id, L"h1");
  EXPECT_EQ(state.users[1].id, L"h2");
  EXPECT_EQ(state.users[2].id, L"b1");
  EXPECT_EQ(state.users[3].id, L"b2");
  EXPECT_EQ(DescribeMemberCounts(counts), L"SetVoiceUsers: 4 users (2 users, 2 bots)");
}

TEST(OverlayStateMembers, JoinTickKeptByIdAcrossUpdates) {
  OverlayState state;
  state.SetVoiceUsers({Member(L"a")}, 1000);
  EXPECT_EQ(state.users[0].joinTick, 1000u);

  // Same member again within the animation, plus a newcomer; the incoming
  // joinTick (0 from the RPC client, or garbage) is never trusted.
  VoiceUser again = Member(L"a");
  again.joinTick = 5;
  state.SetVoiceUsers({again, Member(L"b")}, 1200);
  EXPECT_EQ(state.users[0].joinTick, 1000u);
  EXPECT_EQ(state.users[1].joinTick, 1200u);

  state.Update(1500, 5000);  // a's animation is over, b's is not
  EXPECT_EQ(state.users[0].joinTick, 0u);
  EXPECT_EQ(state.users[1].joinTick, 1200u);
  state.SetVoiceUsers({Member(L"a"), Member(L"b")}, 1600);
  EXPECT_EQ(state.users[0].joinTick, 0u);

  // Leaving and coming back animates again; ids compare whole, not by prefix.
  state.SetVoiceUsers({Member(L"b")}, 1700);
  state.SetVoiceUsers({Member(L"b"), Member(L"a"), Member(L"ab")}, 1800);
  EXPECT_EQ(state.users[1].joinTick, 1800u);
  EXPECT_EQ(state.users[2].joinTick, 1800u);

  MemberCounts none = state.SetVoiceUsers({}, 1900);
  EXPECT_TRUE(state.users.empty());
  EXPECT_EQ(DescribeMemberCounts(none), L"SetVoiceUsers: 0 users (0 users, 0 bots)");
}

TEST(OverlayStateMembers, JoinAnimationEndsAcrossTickWrap) {
  OverlayState state;
  state.SetVoiceUsers({Member(L"a")}, kNearWrap);
  state.Update(kNearWrap + 499u, 5000);  // wrapped: 243
  EXPECT_EQ(state.users[0].joinTick, kNearWrap);
  state.Update(kNearWrap + 500u, 5000);
  EXPECT_EQ(state.users[0].joinTick, 0u);
}

TEST(OverlayJoinScale, Curve) {
  struct Case {
    uint32_t age;
    float scale;
  };
  const Case cases[] = {{0, 0.3f}, {125, 0.6625f}, {250, 0.65f}, {375, 0.7625f}, {500, 1.0f}, {100000, 1.0f}};
  for (uint32_t start : {1000u, kNearWrap}) {
    VoiceUser user = Member(L"a");
    user.joinTick = start;
    for (const Case& c : cases) EXPECT_NEAR(JoinScale(user, start + c.age), c.scale, 1e-4f) << c.age;
    float peak = 0.0f;
    for (uint32_t age = 0; age <= 500; ++age) peak = std::fmax(peak, JoinScale(user, start + age));
    EXPECT_LE(peak, 1.0f);
  }
  VoiceUser settled = Member(L"a");
  EXPECT_EQ(JoinScale(settled, 12345), 1.0f);
}

TEST(OverlayStateCards, AddStampsAndKeepsNewestFive) {
  OverlayState state;
  const wchar_t* names[] = {L"1", L"2", L"3", L"4", L"5"};
  for (const wchar_t* name : names) EXPECT_LE(state.AddNotification(Card(name), 100), 5u);
  EXPECT_EQ(state.notifications.front().createdTick, 100u);
  EXPECT_EQ(state.notifications.front().alpha, 1.0f);
  EXPECT_EQ(state.notifications.front().slideIn, 0.0f);

  size_t count = state.AddNotification(Card(L"6"), 200);
  EXPECT_EQ(count, 6u);
  ASSERT_EQ(state.notifications.size(), 5u);
  EXPECT_EQ(state.notifications.front().displayName, L"2");
  EXPECT_EQ(state.notifications.back().displayName, L"6");

  state.AddMessageNotification(L"sender", L"text", 300);
  ASSERT_EQ(state.notifications.size(), 5u);
  const OverlayNotification& message = state.notifications.back();
  EXPECT_EQ(message.username, L"sender");
  EXPECT_EQ(message.displayName, L"sender");
  EXPECT_EQ(message.content, L"text");
  EXPECT_TRUE(message.userId.empty() && message.avatarHash.empty() && message.channelName.empty());
  EXPECT_EQ(message.createdTick, 300u);
  EXPECT_EQ(state.notifications.front().displayName, L"3");
}

TEST(OverlayStateCards, SlideFadeAndExpiry) {
  struct Case {
    uint32_t duration;
    uint32_t age;
    bool present;
    float slideIn;
    float alpha;
  };
  const Case cases[] = {
      {5000, 0, true, 0.0f, 1.0f},     {5000, 150, true, 0.5f, 1.0f},   {5000, 300, true, 1.0f, 1.0f},
      {5000, 4500, true, 1.0f, 1.0f},  {5000, 4750, true, 1.0f, 0.5f},  {5000, 5000, true, 1.0f, 0.0f},
      {5000, 5001, false, 0, 0},       {400, 0, true, 0.0f, 1.0f},      {400, 399, true, 1.0f, 1.0f},
      {400, 400, true, 1.0f, 1.0f},    {400, 401, false, 0, 0},         {0, 0, true, 0.0f, 1.0f},
      {0, 1, false, 0, 0},             {500, 250, true, 0.8333f, 0.5f}, {5000, 0xFFFFFFFFu, false, 0, 0},
  };
  for (uint32_t start : {1000u, kNearWrap}) {
    for (const Case& c : cases) {
      OverlayState state;
      state.AddNotification(Card(L"x"), start);
      state.Update(start + c.age, c.duration);
      SCOPED_TRACE(testing::Message() << "start " << start << " duration " << c.duration << " age " << c.age);
      ASSERT_EQ(state.notifications.size(), c.present ? 1u : 0u);
      if (!c.present) continue;
      EXPECT_NEAR(state.notifications[0].slideIn, c.slideIn, 1e-4f);
      EXPECT_NEAR(state.notifications[0].alpha, c.alpha, 1e-4f);
    }
  }
}

TEST(OverlayStateCards, CardsExpireIndependently) {
  OverlayState state;
  state.AddNotification(Card(L"old"), kNearWrap);
  state.AddNotification(Card(L"mid"), kNearWrap + 1000u);
  state.AddNotification(Card(L"new"), kNearWrap + 2000u);
  state.Update(kNearWrap + 5750u, 5000);  // ages 5750, 4750, 3750
  ASSERT_EQ(state.notifications.size(), 2u);
  EXPECT_EQ(state.notifications[0].displayName, L"mid");
  EXPECT_EQ(state.notifications[1].displayName, L"new");
  EXPECT_NEAR(state.notifications[0].alpha, 0.5f, 1e-4f);
  EXPECT_EQ(state.notifications[1].alpha, 1.0f);
}

TEST(OverlayStateCards, AddLogLineCutsContentAtFiftyUnits) {
  OverlayNotification card = Card(L"Ann");
  card.content = std::wstring(49, L'a') + L"\xD83D\xDE00" + L"tail";  // a pair straddles unit 50
  std::wstring line = DescribeAddedCard(card, 6);
  EXPECT_EQ(line, L"Added notification - displayName: Ann, content: " + std::wstring(49, L'a') +
                      L", total count: 6");
  card.content = L"short";
  EXPECT_EQ(DescribeAddedCard(card, 1), L"Added notification - displayName: Ann, content: short, total count: 1");
}

TEST(OverlayDrag, ColumnOffsetStaysOnScreen) {
  struct Case {
    int32_t start, travel, extent, avatarSize, margin, expected;
  };
  const Case cases[] = {
      {20, 100, 1920, 48, 20, 120},           // plain move
      {20, 5000, 1920, 48, 20, 1852},         // stops at width - avatar_size - margin
      {20, -100, 1920, 48, 20, 0},            // stops at the left or top edge
      {20, 10, 50, 48, 20, 0},                // negative bound: 0
      {INT32_MAX, INT32_MAX, INT32_MAX, 0, 0, INT32_MAX},  // no overflow
      {INT32_MIN, INT32_MIN, 1080, 48, 20, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ClampColumnOffset(c.start, c.travel, c.extent, c.avatarSize, c.margin), c.expected)
        << c.start << " " << c.travel;
}
