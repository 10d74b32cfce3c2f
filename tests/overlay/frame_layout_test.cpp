#include "overlay/frame_layout.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
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
    for (const char* id : {"1", "2", "3"}) {
      MemberTile user;
      user.id = id;
      user.username = L"user" + std::wstring(1, static_cast<wchar_t>(*id));
      user.avatarHash = L"a";
      state.shown.push_back(user);
    }
    for (const wchar_t* id : {L"7", L"8"}) {
      OverlayNotification card;
      card.data.displayName = std::wstring(L"Cy") + id;
      card.data.content = L"hello";
      card.data.userId = id;
      card.slideIn = 1.0f;
      state.notifications.push_back(card);
    }
  }
  DrawSettings Settings() const { return DrawSettingsOf(config); }
  FrameLayout LayOut() const {
    LayoutProbes probes;
    probes.avatarShown = [this](const AvatarSource& source) { return loadedAvatars.count(source.userId) != 0; };
    probes.textSize = Text;
    probes.contentCut = [](const std::wstring& content, const CardTextLine& line, float maxWidth) {
      auto width = [&line](const std::wstring& text) { return Text(text, line.points, line.bold).width; };
      return EllipsizeContent(content, width, maxWidth);
    };
    return LayOutFrame(state, Settings(), view, now, probes);
  }
  // About 7 pixels a character at 12 points.
  static TextExtent Text(const std::wstring& s, float points, bool) {
    return TextExtent{static_cast<float>(s.size()) * points * 0.6f, points * 1.5f};
  }
};

struct Point { int x, y; };
enum Item { kTile0, kTile1, kTile2, kCard0, kCard1, kPip, kItems };
// A point inside each item of the unchanged scene.
Point Inner(Item item) {
  Config c;
  if (item == kPip) return {c.pip_x + c.pip_width + 2, c.pip_y + c.pip_height + 2};
  if (item <= kTile2) return {c.overlay_x + 12, c.overlay_y + 56 * item + 24};
  CardLayout card = PlaceCard(c.notification_position, kW,
                              CardSlotY(c.notification_position, kH, 12, item - kCard0, 1.0f), 12, 1.0f, 1.0f);
  return {card.x + card.width / 2, card.y + card.height / 2};
}
bool Inside(const PixelRect& r, Point p) { return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom; }

enum Expect { kNothing, kWhole, kItemsOnly };
struct Case { const char* name; std::function<void(Scene&)> change; Expect expect; std::set<Item> redrawn; };

TEST(DirtyRect, EachChangeRedrawsItsItemsOnly) {
  const Case cases[] = {
      {"nothing changed", [](Scene&) {}, kNothing, {}},
      {"speaking", [](Scene& s) { s.state.shown[1].speaking = true; }, kItemsOnly, {kTile1}},
      {"muted", [](Scene& s) { s.state.shown[0].muted = true; }, kItemsOnly, {kTile0}},
      {"muted for the user", [](Scene& s) { s.state.shown[0].localMute = true; }, kItemsOnly, {kTile0}},
      {"streaming", [](Scene& s) { s.state.shown[2].live = true; }, kItemsOnly, {kTile2}},
      {"camera on", [](Scene& s) { s.state.shown[1].video = true; }, kItemsOnly, {kTile1}},
      {"marks switched off", [](Scene& s) { s.config.show_stream_marks = false; }, kWhole, {}},
      {"member avatar arrived", [](Scene& s) { s.loadedAvatars.insert(L"3"); }, kItemsOnly, {kTile2}},
      {"entry animation", [](Scene& s) { s.state.shown[1].joinTick = kNow - 100; }, kItemsOnly, {kTile1}},
      {"member order", [](Scene& s) { std::swap(s.state.shown[0], s.state.shown[1]); }, kItemsOnly, {kTile0, kTile1}},
      {"member left", [](Scene& s) { s.state.shown.pop_back(); }, kItemsOnly, {kTile2}},
      {"card avatar arrived", [](Scene& s) { s.loadedAvatars.insert(L"8"); }, kItemsOnly, {kCard1}},
      {"card slides", [](Scene& s) { s.state.notifications[1].slideIn = 0.9f; }, kItemsOnly, {kCard1}},
      {"oldest card expired, the other moves down",
       [](Scene& s) { s.state.notifications.erase(s.state.notifications.begin()); }, kItemsOnly, {kCard0, kCard1}},
      {"strings do not run together",
       [](Scene& s) {
         s.state.notifications[0].data.displayName = L"Cy7h";
         s.state.notifications[0].data.content = L"ello";
       },
       kItemsOnly, {kCard0}},
      {"new capture of a shown picture",
       [](Scene& s) { s.view.pipShown = true, s.view.pipGeneration = 2; }, kItemsOnly, {kPip}},
      {"overlay_x moves the column", [](Scene& s) { s.config.overlay_x = 21; }, kWhole, {}},
      {"a row instead of the column", [](Scene& s) { s.config.member_layout = "horizontal"; }, kWhole, {}},
      {"another avatar size", [](Scene& s) { s.config.avatar_size = 64; }, kWhole, {}},
      {"drag mode", [](Scene& s) { s.view.dragMode = true; }, kWhole, {}},
      {"another display scale", [](Scene& s) { s.config.display_scale = 1.25f; }, kWhole, {}},
      {"a setting drawing does not read", [](Scene& s) { s.config.toggle_hotkey = "Ctrl+Alt+X"; }, kNothing, {}},
      {"later tick, nothing animating", [](Scene& s) { s.now += 5000; }, kNothing, {}},
      {"entry animation over, not yet ended by Update", [](Scene& s) { s.state.shown[0].joinTick = kNow - 600; },
       kNothing, {}},
      {"avatar hash only", [](Scene& s) { s.state.shown[0].avatarHash = L"new"; }, kNothing, {}},
      {"card age alone", [](Scene& s) { s.state.notifications[0].createdTick = 5; }, kNothing, {}},
      {"new capture while none is shown", [](Scene& s) { s.view.pipGeneration = 7; }, kNothing, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scene before, after;
    if (c.redrawn.count(kPip)) before.view.pipShown = true, before.view.pipGeneration = 1;
    c.change(after);
    PixelRect dirty = DirtyRect(before.LayOut(), after.LayOut(), PixelRect{0, 0, kW, kH});
    if (c.expect == kNothing) {
      EXPECT_TRUE(dirty.Empty());
    }
    if (c.expect == kWhole) {
      EXPECT_EQ(dirty, (PixelRect{0, 0, kW, kH}));
    }
    for (int item = 0; c.expect == kItemsOnly && item < kItems; ++item)
      EXPECT_EQ(Inside(dirty, Inner(static_cast<Item>(item))), c.redrawn.count(static_cast<Item>(item)) != 0)
          << "item " << item;
  }
}

// Each setting drawing reads redraws everything when it changes.
TEST(DirtyRect, EverySettingDrawingReadsRedrawsEverything) {
  const std::function<void(Config&)> changes[] = {
      [](Config& c) { c.display_scale = 2.0f; },          [](Config& c) { c.show_avatars = false; },
      [](Config& c) { c.show_names = false; },            [](Config& c) { c.show_stream_marks = false; },
      [](Config& c) { c.member_layout = "horizontal"; },  [](Config& c) { c.avatar_size = 40; },
      [](Config& c) { c.overlay_x = 30; },                [](Config& c) { c.overlay_y = 30; },
      [](Config& c) { c.username_font_size = 14; },       [](Config& c) { c.inactive_opacity = 0.5f; },
      [](Config& c) { c.username_label_opacity = 0.5f; }, [](Config& c) { c.speaking_color = 1; },
      [](Config& c) { c.muted_color = 1; },               [](Config& c) { c.deafened_color = 1; },
      [](Config& c) { c.border_color = 1; },              [](Config& c) { c.border_opacity = 0.5f; },
      [](Config& c) { c.notification_position = 2; },     [](Config& c) { c.notification_font_size = 14; },
      [](Config& c) { c.pip_x = 60; },                    [](Config& c) { c.pip_y = 60; },
      [](Config& c) { c.pip_width = 300; },               [](Config& c) { c.pip_height = 200; },
      [](Config& c) { c.pip_opacity = 0.5f; },
  };
  for (size_t i = 0; i < std::size(changes); ++i) {
    Scene before, after;
    changes[i](after.config);
    EXPECT_EQ(DirtyRect(before.LayOut(), after.LayOut(), PixelRect{0, 0, kW, kH}), (PixelRect{0, 0, kW, kH})) << i;
  }
}

// The first push is whole; a tile's rectangle reaches to its label's measured
// end; a member whose slot starts below the window draws nothing.
TEST(DirtyRect, StartsWholeCoversTheLabelAndSkipsMembersOffScreen) {
  Scene before, after;
  after.state.shown[1].speaking = true;
  EXPECT_EQ(DirtyRect(FrameLayout(), after.LayOut(), PixelRect{0, 0, kW, kH}), (PixelRect{0, 0, kW, kH}));
  PixelRect dirty = DirtyRect(before.LayOut(), after.LayOut(), PixelRect{0, 0, kW, kH});
  EXPECT_GE(dirty.right, 20 + 48 + 10 + static_cast<int>(5 * 12 * 0.6f) + 8);
  EXPECT_LT(dirty.right, 300);
  before.view.height = after.view.height = 100;  // slots at 20 and 76 only
  after.state.shown[1].speaking = false;
  after.state.shown[2].speaking = true;
  EXPECT_TRUE(DirtyRect(before.LayOut(), after.LayOut(), PixelRect{0, 0, kW, 100}).Empty());
}

// The marks stand right of the name's pill, in the order LIVE, camera, and
// the redraw of a tile reaches their end; switched off, they take no room.
TEST(DirtyRect, CoversTheStreamMarks) {
  auto text = [](const std::wstring& s, float points, bool) { return TextExtent{s.size() * points * 0.6f, points * 1.5f}; };
  Scene before, after;
  after.state.shown[0].live = after.state.shown[0].video = true;
  const LabelPlace label = PlaceLabel(PlaceTile(0, after.state.shown[0], after.Settings(), kNow), after.Settings(),
                                      after.state.shown[0], text);
  EXPECT_GT(label.live.left, label.pill.right);
  EXPECT_GT(label.camera.left, label.live.right);
  EXPECT_GE(label.live.top, label.pill.top);
  EXPECT_LE(label.camera.bottom, label.pill.bottom);
  const PixelRect dirty = DirtyRect(before.LayOut(), after.LayOut(), PixelRect{0, 0, kW, kH});
  EXPECT_GE(dirty.right, label.camera.right);
  after.config.show_stream_marks = false;
  const LabelPlace plain = PlaceLabel(PlaceTile(0, after.state.shown[0], after.Settings(), kNow), after.Settings(),
                                      after.state.shown[0], text);
  EXPECT_TRUE(plain.live.Empty() && plain.camera.Empty());
  EXPECT_EQ(LabelReach(plain), plain.pill);
  // In a row, name and marks share the slot's name room.
  after.config.show_stream_marks = true;
  after.config.member_layout = "horizontal";
  after.state.shown[0].username = L"Sir Talks-A-Lot of the Round Table";
  after.state.shown[0].video = false;
  const LabelPlace row = PlaceLabel(PlaceTile(0, after.state.shown[0], after.Settings(), kNow), after.Settings(),
                                    after.state.shown[0], text);
  EXPECT_LE(row.live.right - row.pill.left, 2 * 48);
  EXPECT_EQ(row.shown.substr(row.shown.size() - 3), L"...");
}

// Tiles and their labels in the column and in a row: each slot a tile and a
// gap further on, the names beside the tiles in the column and centred
// under them in a row, where each slot leaves a name's room; an unknown
// layout is the column.
TEST(MemberLayout, TilesAndLabelsInColumnAndRow) {
  auto text = [](const std::wstring& s, float points, bool) { return TextExtent{s.size() * points * 0.6f, points * 1.5f}; };
  MemberTile member;
  member.username = L"user1";
  auto settingsOf = [](const char* layout, int size) {
    Config config;
    config.member_layout = layout;
    config.avatar_size = size;
    return DrawSettingsOf(config);
  };
  for (int size : {32, 48, 64}) {
    SCOPED_TRACE(size);
    const DrawSettings column = settingsOf("vertical", size), row = settingsOf("horizontal", size);
    for (size_t slot = 0; slot < 3; ++slot) {
      const TilePlace tile = PlaceTile(slot, member, column, kNow), next = PlaceTile(slot + 1, member, column, kNow);
      EXPECT_EQ(tile.size, size);
      EXPECT_EQ(next.x, tile.x);
      EXPECT_EQ(next.y, tile.y + size + kMemberColumnGap);
      const LabelPlace label = PlaceLabel(tile, column, member, text);
      EXPECT_GT(label.pill.left, tile.x + size) << "beside the tile";
      EXPECT_GE(label.pill.top, tile.y);
      EXPECT_LE(label.pill.bottom, tile.y + size);

      const TilePlace inRow = PlaceTile(slot, member, row, kNow), right = PlaceTile(slot + 1, member, row, kNow);
      EXPECT_EQ(right.y, inRow.y);
      EXPECT_EQ(right.x, inRow.x + 2 * size + kMemberColumnGap) << "a slot leaves a name's room";
      const LabelPlace under = PlaceLabel(inRow, row, member, text);
      EXPECT_GT(under.pill.top, inRow.y + size) << "under the tile";
      EXPECT_NEAR(under.pill.left + under.pill.right, 2 * inRow.x + size, 1) << "centred under it";

      const DrawSettings unknown = settingsOf("diagonal", size);
      EXPECT_EQ(PlaceTile(slot, member, unknown, kNow).y, tile.y);
      EXPECT_EQ(PlaceLabel(PlaceTile(slot, member, unknown, kNow), unknown, member, text).pill, label.pill);
    }
  }
  // A growing tile's name stays where the full-size tile puts it.
  const DrawSettings row = settingsOf("horizontal", 48), column = settingsOf("vertical", 48);
  MemberTile joining = member;
  joining.joinTick = kNow - 100;
  const TilePlace small = PlaceTile(0, joining, row, kNow);
  ASSERT_LT(small.size, row.avatar_size);
  EXPECT_EQ(PlaceLabel(small, row, joining, text).textY, PlaceLabel(PlaceTile(0, member, row, kNow), row, member, text).textY);
  // A long name in a row is cut to its slot, the same while its tile grows;
  // the column leaves it whole.
  MemberTile talker = member;
  talker.username = L"Sir Talks-A-Lot of the Round Table";
  const LabelPlace cut = PlaceLabel(PlaceTile(1, talker, row, kNow), row, talker, text);
  EXPECT_EQ(cut.shown.substr(cut.shown.size() - 3), L"...");
  EXPECT_LE(cut.pill.right - cut.pill.left, 2 * 48);
  EXPECT_LE(PlaceLabel(PlaceTile(0, talker, row, kNow), row, talker, text).pill.right, cut.pill.left);
  talker.joinTick = kNow - 100;
  EXPECT_EQ(PlaceLabel(PlaceTile(1, talker, row, kNow), row, talker, text).shown, cut.shown);
  EXPECT_EQ(PlaceLabel(PlaceTile(1, talker, column, kNow), column, talker, text).shown, talker.username);
  // A row counts the slots that start within the frame's width, not its height.
  EXPECT_EQ(MembersOnScreen(5, row, 300, 100), 3u);
  EXPECT_EQ(MembersOnScreen(5, column, 300, 100), 2u);
}

// Each kind's window is kept while it holds what it must, else placed anew
// on the grid around it; a sliding card's room already holds where it ends.
TEST(WindowPart, KeptWhileItFitsPlacedAnewOtherwise) {
  const PixelRect area{0, 0, kW, kH}, current{0, 0, 320, 320};
  struct Row { const char* name; PixelRect needed; bool kept; };
  const Row rows[] = {
      {"fits", {40, 40, 300, 200}, true},
      {"grew past it", {40, 40, 340, 200}, false},
      {"far too big for it", {40, 40, 80, 80}, false},
      {"past the monitor's edge", {kW - 10, 5, kW + 50, 40}, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    PixelRect part = WindowPart(current, r.needed, area);
    EXPECT_EQ(part == current, r.kept);
    EXPECT_EQ(Overlap(part, r.needed), Overlap(r.needed, area));
    EXPECT_EQ(Overlap(part, area), part);
    EXPECT_EQ(part.left % 32 + part.top % 32, 0);
    EXPECT_LE((part.right - part.left) * (part.bottom - part.top), 4 * 384 * 384);
  }
  EXPECT_TRUE(WindowPart(current, PixelRect(), area).Empty());

  Scene scene;
  const FrameLayout standing = scene.LayOut();
  scene.state.notifications[1].slideIn = 0.3f;
  const FrameLayout sliding = scene.LayOut();
  const size_t cards = static_cast<size_t>(FrameItemKind::kCard);
  const PixelRect end = ItemsOfPane(standing, cards).items[1].rect;
  EXPECT_EQ(Overlap(RoomOf(ItemsOfPane(sliding, cards)), end), end);
  EXPECT_EQ(RoomOf(ItemsOfPane(sliding, 0)), RoomOf(ItemsOfPane(standing, 0)));
  EXPECT_TRUE(ItemsOfPane(sliding, static_cast<size_t>(FrameItemKind::kPip)).items.empty());
  // A pane per member tile: the first member in pane 0, the others after the picture's.
  ASSERT_EQ(PanesNeeded(standing), kPaneKinds - 1 + scene.state.shown.size());
  for (size_t pane = 0; pane < PanesNeeded(standing); ++pane) {
    const FrameLayout part = ItemsOfPane(standing, pane);
    const bool member = pane == 0 || pane >= kPaneKinds;
    EXPECT_EQ(part.items.size(), member ? 1u : pane == cards ? scene.state.notifications.size() : 0u) << pane;
    if (member) {
      EXPECT_EQ(part.items[0].index, pane ? pane - kPaneKinds + 1 : 0) << pane;
    }
  }
}

}  // namespace

// At 144 DPI every item, a tile with its ring and name, a card with its
// texts, the picture-in-picture frame, is 1.5 times as big and as far from
// the corner as at 96 (to the pixel, for rounding), in a row as in a column;
// the settings keep their 96-DPI values.
TEST(DisplayScale, EveryItemGrowsByTheScale) {
  for (const char* layout : {"vertical", "horizontal"}) {
    SCOPED_TRACE(layout);
    Scene small, large;
    small.view.pipShown = large.view.pipShown = true;
    small.config.member_layout = large.config.member_layout = layout;
    small.config.notification_position = large.config.notification_position = kCardTopLeft;
    large.config.display_scale = 1.5f;
    const FrameLayout a = small.LayOut(), b = large.LayOut();
    ASSERT_EQ(a.items.size(), b.items.size());
    for (size_t i = 0; i < a.items.size(); ++i) {
      const PixelRect& r = a.items[i].rect;
      const PixelRect& s = b.items[i].rect;
      SCOPED_TRACE(i);
      EXPECT_NEAR(s.left, 1.5 * r.left, 3);
      EXPECT_NEAR(s.top, 1.5 * r.top, 3);
      EXPECT_NEAR(s.right - s.left, 1.5 * (r.right - r.left), 3);
      EXPECT_NEAR(s.bottom - s.top, 1.5 * (r.bottom - r.top), 3);
    }
    const TilePlace tile = PlaceTile(1, large.state.shown[1], large.Settings(), kNow);
    EXPECT_EQ(tile.size, 72);
    EXPECT_FLOAT_EQ(PlaceLabel(tile, large.Settings(), large.state.shown[1], [](const std::wstring&, float points, bool) {
      return TextExtent{points, points};
    }).points, 18.0f);
    EXPECT_EQ(large.config.avatar_size, 48);
  }
}
