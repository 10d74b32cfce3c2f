#include "overlay/frame_inputs.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "overlay/card_geometry.h"

namespace {

constexpr uint32_t kNow = 10000;
constexpr int kW = 1920, kH = 1080;

struct Scene {
  OverlayState state;
  Config config;
  FrameView view;
  uint32_t now = kNow;
  std::set<std::wstring> loadedAvatars;

  Scene() {
    view.width = kW;
    view.height = kH;
    for (const wchar_t* id : {L"1", L"2", L"3"}) {
      VoiceUser user;
      user.id = id;
      user.username = std::wstring(L"user") + id;
      user.avatarHash = L"a";
      state.users.push_back(user);
    }
    for (const wchar_t* id : {L"7", L"8"}) {
      OverlayNotification card;
      card.displayName = std::wstring(L"Cy") + id;
      card.content = L"hello";
      card.userId = id;
      card.slideIn = 1.0f;
      state.notifications.push_back(card);
    }
  }

  FrameSignature Sign() const {
    auto avatar = [this](const std::wstring& id, const std::wstring&) { return loadedAvatars.count(id) != 0; };
    // About 7 pixels a character at 12 points.
    auto text = [](const std::wstring& s, float points, bool) {
      return TextExtent{static_cast<float>(s.size()) * points * 0.6f, points * 1.5f};
    };
    return SignFrame(state, config, view, now, avatar, text);
  }
};

// Where each item stands in the unchanged scene: a point inside it.
struct Point { int x, y; };
enum Item { kTile0, kTile1, kTile2, kCard0, kCard1, kItems };
Point Centre(Item item) {
  Config c;
  if (item <= kTile2) return {c.overlay_x + 24, c.overlay_y + 56 * item + 24};
  CardLayout card = PlaceCard(c.notification_position, kW, CardSlotY(c.notification_position, kH, 12, item - kCard0),
                              12, 1.0f);
  return {card.x + kCardWidth / 2, card.y + card.height / 2};
}
bool Inside(const PixelRect& r, Point p) { return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom; }

using Change = std::function<void(Scene&)>;
enum Expect { kNothing, kWhole, kItemsOnly };

struct Case { const char* name; Change change; Expect expect; std::set<Item> redrawn; };  // redrawn: these, no other

TEST(DirtyRect, EachChangeRedrawsItsItemsOnly) {
  auto tile = [](int i) { return [i](Scene& s) -> VoiceUser& { return s.state.users[i]; }; };
  const Case cases[] = {
      {"speaking", [&](Scene& s) { tile(1)(s).speaking = true; }, kItemsOnly, {kTile1}},
      {"muted", [&](Scene& s) { tile(0)(s).muted = true; }, kItemsOnly, {kTile0}},
      {"deafened", [&](Scene& s) { tile(2)(s).deafened = true; }, kItemsOnly, {kTile2}},
      {"bot", [&](Scene& s) { tile(1)(s).bot = true; }, kItemsOnly, {kTile1}},
      {"shown name", [&](Scene& s) { tile(1)(s).displayName = L"A much longer name"; }, kItemsOnly, {kTile1}},
      {"member avatar arrived", [](Scene& s) { s.loadedAvatars.insert(L"3"); }, kItemsOnly, {kTile2}},
      {"entry animation", [&](Scene& s) { tile(1)(s).joinTick = kNow - 100; }, kItemsOnly, {kTile1}},
      {"member order", [](Scene& s) { std::swap(s.state.users[0], s.state.users[1]); }, kItemsOnly, {kTile0, kTile1}},
      {"member left", [](Scene& s) { s.state.users.pop_back(); }, kItemsOnly, {kTile2}},
      {"card avatar arrived", [](Scene& s) { s.loadedAvatars.insert(L"8"); }, kItemsOnly, {kCard1}},
      {"card slides", [](Scene& s) { s.state.notifications[1].slideIn = 0.9f; }, kItemsOnly, {kCard1}},
      {"card fades", [](Scene& s) { s.state.notifications[0].alpha = 0.5f; }, kItemsOnly, {kCard0}},
      {"card channel", [](Scene& s) { s.state.notifications[0].channelName = L"general"; }, kItemsOnly, {kCard0}},
      {"oldest card expired, the other moves down",
       [](Scene& s) { s.state.notifications.erase(s.state.notifications.begin()); }, kItemsOnly, {kCard0, kCard1}},
      {"strings do not run together",
       [](Scene& s) {
         s.state.notifications[0].displayName = L"Cy7h";
         s.state.notifications[0].content = L"ello";
       },
       kItemsOnly, {kCard0}},
      {"overlay_x moves the column", [](Scene& s) { s.config.overlay_x = 21; }, kWhole, {}},
      {"avatar_size", [](Scene& s) { s.config.avatar_size = 40; }, kWhole, {}},
      {"speaking colour", [](Scene& s) { s.config.speaking_color = MakeConfigColor(1, 2, 3); }, kWhole, {}},
      {"notification_position", [](Scene& s) { s.config.notification_position = 3; }, kWhole, {}},
      {"pip rectangle", [](Scene& s) { s.config.pip_height = 200; }, kWhole, {}},
      {"drag mode", [](Scene& s) { s.view.dragMode = true; }, kWhole, {}},
      {"window size", [](Scene& s) { s.view.height = 1200; }, kWhole, {}},
      {"later tick, nothing animating", [](Scene& s) { s.now += 5000; }, kNothing, {}},
      {"entry animation over, not yet ended by Update", [&](Scene& s) { tile(0)(s).joinTick = kNow - 600; }, kNothing, {}},
      {"avatar hash only", [&](Scene& s) { tile(0)(s).avatarHash = L"new"; }, kNothing, {}},
      {"card age alone", [](Scene& s) { s.state.notifications[0].createdTick = 5; }, kNothing, {}},
      {"duration", [](Scene& s) { s.config.notification_duration = 100; }, kNothing, {}},
      {"border colour", [](Scene& s) { s.config.border_color = MakeConfigColor(1, 2, 3); }, kNothing, {}},
      {"new capture while none is shown", [](Scene& s) { s.view.pipGeneration = 7; }, kNothing, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scene before, after;
    c.change(after);
    PixelRect dirty = DirtyRect(before.Sign(), after.Sign(), after.view.width, after.view.height);
    if (c.expect == kNothing) {
      EXPECT_TRUE(dirty.Empty());
    } else if (c.expect == kWhole) {
      EXPECT_EQ(dirty, (PixelRect{0, 0, after.view.width, after.view.height}));
    } else {
    for (int item = 0; item < kItems; ++item)
      EXPECT_EQ(Inside(dirty, Centre(static_cast<Item>(item))), c.redrawn.count(static_cast<Item>(item)) != 0)
          << "item " << item;
    }
  }
}

// The changed tile's whole drawing is redrawn: the speaking ring 4 pixels
// out, the halo 8 out, and the label to its measured end; the first push,
// and any after a refused one, is whole; a new capture redraws its picture.
TEST(DirtyRect, CoversWhatIsDrawnAndStartsWhole) {
  Scene before, after;
  after.state.users[1].speaking = true;
  PixelRect dirty = DirtyRect(before.Sign(), after.Sign(), kW, kH);
  const int left = 20, top = 20 + 56;
  EXPECT_LE(dirty.left, left - 11);
  EXPECT_LE(dirty.top, top - 11);
  EXPECT_GE(dirty.bottom, top + 48 + 11);
  EXPECT_GE(dirty.right, left + 48 + 10 + static_cast<int>(5 * 12 * 0.6f) + 8);
  EXPECT_LT(dirty.right, 300);

  EXPECT_EQ(DirtyRect(FrameSignature(), after.Sign(), kW, kH), (PixelRect{0, 0, kW, kH}));

  before.view.height = after.view.height = 100;  // slots at 20 and 76 only: the third is not drawn
  after.state.users[1].speaking = false;
  after.state.users[2].speaking = true;
  EXPECT_TRUE(DirtyRect(before.Sign(), after.Sign(), kW, 100).Empty());
  after.state.users[2].speaking = false;

  before.view.pipShown = after.view.pipShown = true;
  before.view.height = after.view.height = kH;
  before.view.pipGeneration = 1;
  after.view.pipGeneration = 2;
  dirty = DirtyRect(before.Sign(), after.Sign(), kW, kH);
  Config c;
  EXPECT_TRUE(Inside(dirty, Point{c.pip_x - 3, c.pip_y - 3}));
  EXPECT_TRUE(Inside(dirty, Point{c.pip_x + c.pip_width + 2, c.pip_y + c.pip_height + 2}));
  EXPECT_FALSE(Inside(dirty, Centre(kCard0)));
}

TEST(MembersOnScreen, SlotsStartingWithinTheFrame) {
  struct Case { size_t count; int32_t overlayY, avatarSize; int height; size_t shown; };
  const Case cases[] = {
      {3, 20, 48, 1080, 3},  {30, 20, 48, 1080, 19},  // 20 + 18 x 56 = 1028 starts inside, 1084 not
      {5, 20, 48, 76, 2},    {5, 20, 48, 75, 1},      // a slot starting on the last row counts
      {5, 2000, 48, 1080, 0}, {3, -100, 48, 1080, 3}, {4, 2147483647, 2147483647, 1080, 0},  // wide arithmetic
  };
  for (const Case& c : cases)
    EXPECT_EQ(MembersOnScreen(c.count, c.overlayY, c.avatarSize, c.height), c.shown)
        << c.count << " at " << c.overlayY << " size " << c.avatarSize << " in " << c.height;
}

}  // namespace
