// Frames drawn by the renderer and checked by pixel probes (not whole images:
// anti-aliasing differs between GDI+ builds): member tiles, partial frames
// through the window, a notification card, the picture-in-picture, and the
// glyphs that names in every script and emoji are drawn with.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>

#include "app/config.h"
#include "app/settings_store.h"
#include "app/log.h"
#include "app/text_convert.h"
#include "overlay/overlay_window.h"
#include "overlay/pip_capture.h"
#include "overlay/renderer.h"
#include "tests/support/child_process.h"
#include "tools/loopback_http/loopback_http_server.h"
#include "tools/loopback_http/test_png.h"

namespace {

constexpr int kX = 20, kY = 20, kSize = 48;
constexpr uint32_t kRed = 0xFF0000, kBody = 0x2F3136;

struct Pixel { int r, g, b, a; };  // premultiplied
uint32_t& Word(const FrameBuffer& f, int x, int y) {  // window coordinates
  return static_cast<uint32_t*>(f.pixels)[static_cast<size_t>(y - f.originY) * f.width + (x - f.originX)];
}
FrameBuffer g_frame;  // where the tests draw straight
Config g_drawn;      // the settings they draw with
Pixel At(int x, int y, const FrameBuffer& f = g_frame) {
  uint32_t p = Word(f, x, y);
  return {static_cast<int>(p >> 16 & 255), static_cast<int>(p >> 8 & 255), static_cast<int>(p & 255),
          static_cast<int>(p >> 24)};
}
int Count(int x0, int y0, int x1, int y1, const std::function<bool(const Pixel&)>& test) {
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) n += test(At(x, y)) ? 1 : 0;
  return n;
}
bool Drawn(const Pixel& p) { return p.a > 0; }
// What the pane's window was last given: its frame, or the kept picture
// pushed in its place.
const FrameBuffer& Pushed(const OverlayPane& pane) {
  if (pane.frame.pixels) return pane.frame;
  auto newest = [](const KeptPicture& a, const KeptPicture& b) { return a.lastUse < b.lastUse; };
  return std::max_element(pane.pictures.begin(), pane.pictures.end(), newest)->frame;
}
bool IsRing(const Pixel& p) { return p.g > 60 && p.r < p.g / 3 && p.b < p.g / 3; }
Pixel Premul(int alpha, uint32_t rgb) {
  return {static_cast<int>(rgb >> 16 & 255) * alpha / 255, static_cast<int>(rgb >> 8 & 255) * alpha / 255,
          static_cast<int>(rgb & 255) * alpha / 255, alpha};
}
Pixel Over(Pixel s, Pixel d) {
  auto mix = [&](int sc, int dc) { return sc + dc * (255 - s.a) / 255; };
  return {mix(s.r, d.r), mix(s.g, d.g), mix(s.b, d.b), mix(s.a, d.a)};
}
bool Near(Pixel p, Pixel q, int tolerance = 3) {
  return std::abs(p.r - q.r) <= tolerance && std::abs(p.g - q.g) <= tolerance && std::abs(p.b - q.b) <= tolerance &&
         std::abs(p.a - q.a) <= tolerance;
}

MemberTile Member(const char* id) {
  MemberTile user;
  user.id = id;
  user.username = L"ann";
  return user;
}

class RenderTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(RendererInitialize());
    cdn_ = new LoopbackHttpServer;
    cdn_->Route("GET", "/avatars/*", [](const LoopbackHttpRequest&) {
      LoopbackHttpResponse response;
      response.body = MakeSolidPng(64, 64, 0xFF000000 | kRed);
      return response;
    });
    ASSERT_TRUE(cdn_->Start());
    _putenv_s("VOXMERE_CDN_BASE", cdn_->BaseUrl().c_str());
  }
  static void TearDownTestSuite() {
    g_frame.Release();  // before GDI+ stops
    RendererShutdown();
    delete cdn_;
  }
  void SetUp() override {
    g_drawn = Config();
    g_drawn.speaking_color = MakeConfigColor(0, 255, 0);
    g_settings.Replace(g_drawn);  // for the overlay windows, which draw from the store
  }
  // A fresh frame of that size, cleared.
  static void Frame(int width, int height) {
    g_frame.Prepare(width, height);
    g_frame.Clear(g_frame.Bounds());
    ASSERT_NE(g_frame.pixels, nullptr);
  }
  static FrameLayout LayOut(const OverlayState& state) {
    const FrameView view{0, 0, static_cast<int>(g_frame.width), static_cast<int>(g_frame.height)};
    return LayOutFrame(state, DrawSettingsOf(g_drawn), view, 1000, GetRenderer().Probes());
  }
  // Items of the state laid out and drawn as the overlay does, straight into
  // the frame; only the one of that kind and slot when given.
  static void DrawState(const OverlayState& state, const FrameItem* only = nullptr) {
    const DrawSettings settings = DrawSettingsOf(g_drawn);
    for (const FrameItem& item : LayOut(state).items)
      if (!only || (item.Kind() == only->Kind() && item.index == only->index))
        DrawItem(DrawContext{GetRenderer(), g_frame, PixelRect(), settings}, item);
  }
  static void DrawMembers(int width, int height, const std::vector<MemberTile>& members) {
    Frame(width, height);
    OverlayState state;
    state.shown = members;
    DrawState(state);
  }
  static LoopbackHttpServer* cdn_;
};
LoopbackHttpServer* RenderTest::cdn_ = nullptr;

// The border colour outlines silent tiles once it has an opacity (none by
// default, the picture as it always was); without avatars only the names show.
TEST_F(RenderTest, BorderOutlinesSilentTilesAndAvatarsCanBeHidden) {
  MemberTile member = Member("43");  // no avatar: the placeholder disc
  auto blue = [](const Pixel& p) { return p.b > 100 && p.r < 40 && p.g < 40; };
  auto blueAtEdge = [&] {
    DrawMembers(400, 400, {member});
    return Count(kX - 2, kY - 2, kX + kSize + 2, kY + kSize + 2, blue);
  };
  g_drawn.border_color = MakeConfigColor(0, 0, 255);
  EXPECT_EQ(blueAtEdge(), 0);
  g_drawn.border_opacity = 1.0f;
  EXPECT_GT(blueAtEdge(), 100);
  member.speaking = true;
  EXPECT_EQ(blueAtEdge(), 0);

  g_drawn.show_avatars = false;
  DrawMembers(400, 400, {member});
  EXPECT_EQ(Count(kX - 8, kY - 8, kX + kSize, kY + kSize + 8, Drawn), 0) << "a tile without avatars";
  EXPECT_GT(Count(kX + kSize, kY, 400, kY + kSize, Drawn), 100) << "no name beside it";
}

// A row: tiles side by side, each slot two tiles wide, names centred under
// them, a long one kept inside its slot; a bigger avatar size grows the tiles
// and their pitch alike.
TEST_F(RenderTest, RowLayoutPutsNamesUnderTilesAtAnyAvatarSize) {
  g_drawn.member_layout = "horizontal";
  MemberTile talker = Member("44");
  talker.username = L"Sir Talks-A-Lot of the Round Table";
  for (int size : {48, 64}) {
    SCOPED_TRACE(size);
    g_drawn.avatar_size = size;
    const int pitch = 2 * size + 8, tileLeft = kX + (pitch - 8 - size) / 2;
    DrawMembers(600, 300, {talker, talker});
    EXPECT_EQ(Count(kX + pitch - 8, kY + size, kX + pitch, kY + size + 40, Drawn), 0) << "a name past its slot";
    for (int slot = 0; slot < 2; ++slot) {
      const int left = tileLeft + slot * pitch;
      EXPECT_GT(Count(left, kY, left + size, kY + size, Drawn), size * size / 2) << "tile " << slot;
      EXPECT_GT(Count(left - 20, kY + size + 4, left + size + 20, kY + size + 40, Drawn), 50) << "name " << slot;
    }
    EXPECT_EQ(Count(kX, kY + size + 45, 600, 300, Drawn), 0) << "nothing below the names";
    EXPECT_EQ(Count(tileLeft + size + 12, kY, tileLeft + pitch - 12, kY + size, Drawn), 0) << "the gap between the tiles' halos";
  }
}

TEST_F(RenderTest, RingOnlyWhileSpeakingInactiveAvatarDimmedLabelPastTheClip) {
  MemberTile member = Member("42");
  member.avatarHash = L"abc";
  ASSERT_TRUE(WaitFor([&] { return GetAvatar(MemberAvatarSource(member)) != nullptr; }, 10000));
  const int cx = kX + kSize / 2, cy = kY + kSize / 2;
  auto draw = [&] { DrawMembers(400, 400, {member}); };
  draw();
  EXPECT_EQ(Count(kX - 8, kY - 8, kX + kSize + 8, kY + kSize + 8, IsRing), 0);
  EXPECT_NEAR(At(cx, cy).a, 102, 3);  // 0.4 x 255, red premultiplied alike
  EXPECT_NEAR(At(cx, cy).r, 102, 3);

  member.speaking = true;
  draw();
  EXPECT_TRUE(IsRing(At(cx, kY - 4)));  // outside the tile, straight above it
  EXPECT_EQ(At(cx, cy).a, 255);
  EXPECT_GT(Count(kX + kSize + 12, kY - 4, 400, kY + kSize + 4, Drawn), 100)
      << "the avatar's circular clip is lifted for the label";
}

// The badge tells whose mute it is: the member's own (the muted colour), the
// user's for themselves (grey), deafened over both. A stream and a camera
// carry their marks right of the name, where the label's geometry puts them,
// unless the setting hides them.
TEST_F(RenderTest, BadgesTellWhoseMuteAndMarksFollowTheSetting) {
  g_drawn.muted_color = MakeConfigColor(255, 0, 0);
  const int d = kSize / 3, bx = kX + kSize - d + 2, by = kY + kSize - d + 2;
  struct Row {
    const char* what;
    bool muted, localMute, deafened;
    Pixel disc;
  };
  const Row rows[] = {
      {"muted by themselves", true, false, false, {255, 0, 0, 255}},
      {"muted for the user", false, true, false, {0x80, 0x84, 0x8E, 255}},
      {"both: their own", true, true, false, {255, 0, 0, 255}},
      {"deafened wins", false, true, true, Premul(255, 0xFAA61A)},
  };
  for (const Row& r : rows) {
    MemberTile member = Member("45");
    member.muted = r.muted, member.localMute = r.localMute, member.deafened = r.deafened;
    DrawMembers(400, 400, {member});
    // Left of the glyph, inside the disc.
    EXPECT_TRUE(Near(At(bx + 2, by + d / 2), r.disc, 4)) << r.what;
  }

  MemberTile streamer = Member("46");
  streamer.live = streamer.video = true;
  auto measure = [](const std::wstring& text, float points, bool bold) {
    return GetRenderer().MeasureText(text, points, bold);
  };
  const DrawSettings settings = DrawSettingsOf(g_drawn);
  const LabelPlace label = PlaceLabel(PlaceTile(0, streamer, settings, 1000), settings, streamer, measure);
  ASSERT_FALSE(label.live.Empty() || label.camera.Empty());
  auto red = [](const Pixel& p) { return p.r > 200 && p.g < 90 && p.b < 90; };
  auto white = [](const Pixel& p) { return p.r > 200 && p.g > 200 && p.b > 200; };
  auto area = [](const PixelRect& r) { return (r.right - r.left) * (r.bottom - r.top); };
  const PixelRect& live = label.live;
  const PixelRect& camera = label.camera;
  DrawMembers(400, 400, {streamer});
  EXPECT_GT(Count(live.left, live.top, live.right, live.bottom, red), area(live) / 3) << "the red pill";
  EXPECT_GT(Count(live.left, live.top, live.right, live.bottom, white), 5) << "its white LIVE";
  EXPECT_GT(Count(camera.left, camera.top, camera.right, camera.bottom, white), area(camera) / 6) << "the camera";
  EXPECT_EQ(Count(label.pill.right, label.pill.top, 400, label.pill.bottom, red), Count(live.left, live.top, live.right, live.bottom, red))
      << "nothing red beyond the pill but the mark";
  g_drawn.show_stream_marks = false;
  DrawMembers(400, 400, {streamer});
  EXPECT_EQ(Count(label.pill.right + 4, label.pill.top - 2, 400, label.pill.bottom + 2, Drawn), 0) << "marks hidden";
}

// Every pixel an item's drawing changes lies inside the rectangle its layout
// gives it, which the redraws and its window go by: tiles with a ring, a
// border, badges, names and marks, in the column and in a row, at 96 and 144
// DPI, and a card whose name runs past its edge.
TEST_F(RenderTest, EachItemDrawsWithinItsRectangle) {
  MemberTile speaker = Member("47"), silent = Member("48");
  speaker.username = L"Sir Talks-A-Lot";
  speaker.speaking = speaker.muted = speaker.live = speaker.video = true;
  silent.deafened = silent.bot = true;
  OverlayNotification card;
  card.data.displayName = L"A name long enough to run well past the right edge of its card";
  card.data.content = L"hey";
  card.data.channelName = L"general";
  card.data.serverName = L"Server";
  card.slideIn = 1.0f;
  OverlayState state;
  state.shown = {speaker, silent};
  state.notifications = {card};
  for (const char* layout : {"vertical", "horizontal"}) {
    for (float scale : {1.0f, 1.5f}) {
      SCOPED_TRACE(testing::Message() << layout << " at " << scale);
      g_drawn.member_layout = layout;
      g_drawn.display_scale = scale;
      g_drawn.border_opacity = 1.0f;
      g_drawn.notification_position = kCardTopLeft;
      Frame(1920, 1080);
      const FrameLayout frame = LayOut(state);
      ASSERT_EQ(frame.items.size(), 3u);
      for (const FrameItem& item : frame.items) {
        Frame(1920, 1080);
        DrawState(state, &item);
        const PixelRect inside = Overlap(item.rect, g_frame.Bounds());
        const int drawn = Count(inside.left, inside.top, inside.right, inside.bottom, Drawn);
        EXPECT_GT(drawn, 500) << "item " << item.index;
        EXPECT_EQ(Count(0, 0, 1920, 1080, Drawn), drawn) << "item " << item.index << " drew outside its rectangle";
      }
    }
  }
}

// Each member tile, the cards and the picture have windows only as big as
// what they hold, hidden while they hold nothing. A changed tile is cleared,
// redrawn and pushed alone, in its own window, which keeps the rest of the
// picture it holds (Wine honours prcDirty). Nothing is pushed while nothing
// changed or while hidden; only the first three pushes are logged.
TEST_F(RenderTest, WindowsHoldTheirItemsAndPartialFramesReplaceOnlyTheChangedPart) {
  DeleteFileW((g_logPath = TestBinDirectory() + L"\\overlay_render_test.log").c_str());
  OverlayWindow overlay(GetRenderer());
  ASSERT_TRUE(overlay.Create(GetModuleHandleW(nullptr)));
  OverlayPane& first = overlay.panes[0];
  OverlayPane& cards = overlay.panes[static_cast<size_t>(FrameItemKind::kCard)];
  overlay.state.shown = {Member("1"), Member("2")};
  ASSERT_TRUE(overlay.Render());
  ASSERT_EQ(overlay.panes.size(), kPaneKinds + 1);
  OverlayPane& second = overlay.panes[kPaneKinds];
  EXPECT_FALSE(overlay.Render()) << "nothing changed";
  overlay.Toggle();
  EXPECT_FALSE(IsWindowVisible(first.Hwnd()) || IsWindowVisible(second.Hwnd()));
  EXPECT_FALSE(overlay.Render()) << "hidden";
  overlay.Toggle();
  EXPECT_TRUE(overlay.Render()) << "shown again: a fresh frame";
  EXPECT_EQ(GetRenderer().endFrameCount, 4u) << "the two tiles' windows pushed each time: no card, no picture";
  RECT placed = {};
  ASSERT_TRUE(IsWindowVisible(second.Hwnd()) && GetWindowRect(second.Hwnd(), &placed));
  EXPECT_EQ(placed.left, overlay.x + second.part.left);
  EXPECT_EQ(placed.bottom, overlay.y + second.part.bottom);
  EXPECT_LT((placed.right - placed.left) * (placed.bottom - placed.top), overlay.width * overlay.height / 40);
  EXPECT_FALSE(IsWindowVisible(cards.Hwnd()));
  // A window that makes itself topmost later is put back under the tiles.
  HWND other = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"Static", L"", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10,
                               nullptr, nullptr, nullptr, nullptr);
  ASSERT_EQ(GetTopWindow(nullptr), other);
  overlay.KeepOnTop();
  HWND top = GetTopWindow(nullptr);
  EXPECT_TRUE(top == first.Hwnd() || top == second.Hwnd());
  DestroyWindow(other);

  const int cx = kX + kSize / 2, ringY = kY + 56 - 4;
  overlay.state.shown[1].speaking = true;
  ASSERT_TRUE(overlay.Render());
  EXPECT_EQ(GetRenderer().endFrameCount, 5u) << "only the speaker's window is pushed";
  EXPECT_TRUE(IsRing(At(cx, ringY, Pushed(second))));
  EXPECT_EQ(second.frame.pixels, nullptr) << "a still tile is pushed from its kept picture";
  HDC screen = GetDC(nullptr);
  auto shown = [&](int x, int y) { return GetPixel(screen, overlay.x + x, overlay.y + y); };
  // Without a compositing manager the screen shows the premultiplied colours over black.
  const Pixel ring = At(cx, ringY, Pushed(second));
  EXPECT_TRUE(WaitFor([&] { return shown(cx, ringY) == RGB(ring.r, ring.g, ring.b); }, 5000));

  // Silent and speaking again: the tile is blended from the picture kept for
  // each, pixel for pixel as the tile is drawn.
  overlay.state.shown[1].speaking = false;
  ASSERT_TRUE(overlay.Render());
  overlay.state.shown[1].speaking = true;
  ASSERT_TRUE(overlay.Render());
  // The window's pixels against its item drawn straight into a fresh frame.
  auto differFromDrawn = [&](const OverlayPane& pane, const std::function<void()>& draw) {
    const FrameBuffer& shown = Pushed(pane);
    const PixelRect window = shown.Bounds();
    Frame(overlay.width, overlay.height);
    draw();
    int differ = 0;
    for (int y = window.top; y < window.bottom; ++y)
      for (int x = window.left; x < window.right; ++x) differ += Word(shown, x, y) != Word(g_frame, x, y);
    return differ;
  };
  EXPECT_EQ(differFromDrawn(second, [&] { DrawState(overlay.state, &second.pushed.items[0]); }), 0);
  EXPECT_EQ(ReadLogLines(g_logPath, "[Renderer] EndFrame: UpdateLayeredWindow result=1 ").size(), 3u);

  // One of two cards changes: only its part of the cards' window is redrawn
  // and replaced.
  for (const wchar_t* name : {L"Cy", L"Dee"}) {
    OverlayNotification card;
    card.data.displayName = name;
    card.slideIn = 1.0f;
    overlay.state.notifications.push_back(card);
  }
  ASSERT_TRUE(overlay.Render());
  EXPECT_TRUE(IsWindowVisible(cards.Hwnd()));
  EXPECT_FALSE(overlay.Render()) << "the tiles and cards are kept as pushed";
  const int spotX = cards.part.left + 1, spotY = cards.part.top + 1;  // in the window's margin
  Word(cards.frame, spotX, spotY) = 0xFFFFFFFF;
  overlay.state.notifications[1].data.content = L"changed";
  ASSERT_TRUE(overlay.Render());
  EXPECT_EQ(At(spotX, spotY, cards.frame).a, 255) << "the frame is cleared only where it changed";
  Sleep(200);
  EXPECT_EQ(shown(spotX, spotY), RGB(0, 0, 0)) << "outside the dirty rectangle the window keeps its picture";
  ASSERT_TRUE(GetRenderer().EndFrame(cards.frame, cards.Hwnd(), overlay.x, overlay.y));  // the whole frame
  EXPECT_TRUE(WaitFor([&] { return shown(spotX, spotY) == RGB(255, 255, 255); }, 5000));
  ReleaseDC(nullptr, screen);
  // The first card goes: the second moves up to its slot, copied from the
  // picture kept where it stood.
  Word(cards.frame, spotX, spotY) = 0;
  overlay.state.notifications.erase(overlay.state.notifications.begin());
  ASSERT_TRUE(overlay.Render());
  EXPECT_EQ(differFromDrawn(cards, [&] { DrawState(overlay.state, &cards.pushed.items[0]); }), 0);
  overlay.state.notifications.clear();
  ASSERT_TRUE(overlay.Render());
  EXPECT_FALSE(IsWindowVisible(cards.Hwnd())) << "a window left empty is hidden";
  g_logPath.clear();
}

// A fading card draws its avatar image at its alpha, clipped to the circle;
// long content, cut even between emoji halves, ends inside the card.
TEST_F(RenderTest, CardAtItsAlphaWithLongContentCutInsideIt) {
  g_drawn.notification_position = 1;  // top left: the card at (20, 20)
  auto draw = [](const std::wstring& content, float alpha) {
    Frame(1920, 1080);
    OverlayState state;
    state.notifications.resize(1);
    OverlayNotification& card = state.notifications[0];
    card.data.displayName = L"alice";
    card.data.content = content;
    card.data.userId = L"42";
    card.data.avatarHash = L"abc";
    card.alpha = alpha;
    card.slideIn = 1.0f;
    DrawState(state);
  };
  const Pixel red = Premul(255, kRed), under = Over(Premul(115, kBody), Premul(40, 0));
  ASSERT_TRUE(WaitFor([&] { return draw(L"x", 1.0f), Near(At(60, 68), red); }, 10000));
  draw(L"x", 0.5f);
  EXPECT_TRUE(Near(At(60, 68), Over(Premul(127, kRed), under)));
  EXPECT_TRUE(Near(At(38, 46), under)) << "the image's square corner shows the body";
  EXPECT_EQ(At(18, 68).a, 0) << "left of the card";

  const Pixel body = Over(Premul(230, kBody), Premul(80, 0));
  auto marked = [&](const Pixel& p) { return !Near(p, body, 6); };
  const int top = 20 + 30;  // the content line
  std::wstring wide, emoji;
  for (int i = 0; i < 60; ++i) wide += L"WM";
  for (int i = 0; i < 40; ++i) emoji += std::wstring(L"a") + static_cast<wchar_t>(0xD83D) + static_cast<wchar_t>(0xDE00);
  for (const std::wstring& content : {wide, emoji}) {
    draw(content, 1.0f);
    EXPECT_GT(Count(96, top, 296, top + 16, marked), 50);
    EXPECT_EQ(Count(380, top, 396, top + 18, marked), 0) << "nothing past the 282-pixel column";
    EXPECT_EQ(Count(406, top, 1020, top + 18, Drawn), 0);
  }
}

// Every name draws real glyphs with the fonts the set-up installs and the
// bundled emoji font: no glyph id 0 (the missing-glyph box), except for a
// character no font has. Emoji come in colour; a right-to-left name reads
// from the right.
TEST_F(RenderTest, NamesInEveryScriptDrawRealGlyphsEmojiInColour) {
  struct Case {
    const wchar_t* name;
    bool colour;      // drawn with colour layers
    bool box;         // may draw the missing glyph
    bool rightToLeft;
  };
  const Case cases[] = {
      {L"\U0001F525 fire", true, false, false},
      {L"\U0001F308\U0001F1EF\U0001F1F5", true, false, false},             // rainbow, flag
      {L"\U0001F44D\U0001F3FD \U0001F469\u200D\U0001F4BB", true, false, false},  // skin tone, ZWJ
      {L"\u2728\u2B50 star", true, false, false},                          // emoji in the basic plane
      {L"\u65E5\u672C\u8A9E", false, false, false},                        // Japanese
      {L"\uD55C\uAD6D\uC5B4", false, false, false},                        // Korean
      {L"\u0639\u0644\u064A", false, false, true},                         // Arabic
      {L"\u05E2\u05D1\u05E8\u05D9\u05EA", false, false, true},             // Hebrew
      {L"\u0E44\u0E17\u0E22", false, false, false},                        // Thai
      {L"\u0939\u093F\u0928\u094D\u0926\u0940", false, false, false},      // Devanagari
      {L"\U0001D4D0lice", false, false, false},                            // mathematical bold script A
      {L"caf\u00E9 e\u0301", false, false, false},                         // combining accent
      {L"\U0010FFFD", false, true, false},                                 // no font has it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    std::vector<GlyphRunRecord> runs = GetRenderer().text.GlyphRuns(c.name, 16.0f, true);
    ASSERT_FALSE(runs.empty());
    bool colour = false;
    std::wstring boxed;  // the fonts that drew a box
    for (const GlyphRunRecord& run : runs) {
      if (std::count(run.glyphs.begin(), run.glyphs.end(), 0) > 0) boxed += L"[" + run.family + L"]";
      colour |= run.colour;
    }
    EXPECT_EQ(colour, c.colour);
    EXPECT_EQ(!boxed.empty(), c.box) << WideToUtf8(boxed);
    // The geometry reserves the measured box and 3 pixels around it; the ink stays inside.
    TextPicture ink = GetRenderer().text.Rasterize(c.name, 16.0f, true);
    TextExtent box = GetRenderer().text.Measure(c.name, 16.0f, true);
    EXPECT_GE(ink.left, -3);
    EXPECT_GE(ink.top, -3);
    EXPECT_LE(ink.left + ink.width, static_cast<int>(box.width) + 1 + 3);
    EXPECT_LE(ink.top + ink.height, static_cast<int>(box.height) + 1 + 3);
    if (c.rightToLeft) {
      ASSERT_TRUE(runs[0].rightToLeft);
      EXPECT_GT(runs[0].lefts.front(), runs[0].lefts.back()) << "the first letter sits at the right";
    }
  }
  // Drawn, the emoji's colour shows: a red flame on a white label.
  MemberTile member = Member("7");
  member.username = L"\U0001F525";
  member.speaking = true;
  DrawMembers(400, 200, {member});
  auto flame = [](const Pixel& p) { return p.a > 100 && p.r > p.b + 80; };
  EXPECT_GT(Count(kX + kSize + 8, kY, 400, kY + kSize, flame), 20);
}

// The label face is the first of a list that opens; where none does, any
// face that opens: a machine whose first wanted family cannot be opened
// still draws every label.
TEST_F(RenderTest, LabelFaceIsOneThatOpens) {
  const std::wstring emoji = GetExeDirectory() + L"\\Twemoji.ttf";
  struct Case {
    std::vector<std::wstring> faces;
    const wchar_t* chosen;  // null: whatever face opens
  };
  const Case cases[] = {
      {{L"Voxmere Missing Sans", L"DejaVu Sans"}, L"DejaVu Sans"},
      {{L"Voxmere Missing Sans", L"Noto Sans", L"DejaVu Sans"}, L"Noto Sans"},
      {{L"Voxmere Missing Sans"}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    TextPainter& text = GetRenderer().text;
    ASSERT_TRUE(text.Open(emoji, c.faces));
    if (c.chosen) {
      EXPECT_EQ(text.Face(), c.chosen);
    }
    EXPECT_FALSE(text.Face().empty());
    MemberTile member = Member("8");
    member.username = L"Anna \u65E5\u672C";
    DrawMembers(400, 200, {member});
    auto ink = [](const Pixel& p) { return p.a > 60 && p.r > 60 && p.g > 60 && p.b > 60; };
    EXPECT_GT(Count(kX + kSize + 8, kY, 400, kY + kSize, ink), 30) << "the label is drawn";
  }
  ASSERT_TRUE(GetRenderer().text.Open(emoji));
}

const wchar_t kChrome[] = L"Chrome_WidgetWin_1", kOther[] = L"VoxmerePipProbeClass";
using Window = std::unique_ptr<HWND__, decltype(&DestroyWindow)>;
Window Open(const wchar_t* className, const wchar_t* title, int show) {
  Window window(CreateWindowExW(0, className, title, WS_POPUP, 700, 100, 160, 120, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr),
                DestroyWindow);
  // Never activated: without a window manager Wine waits 2 s whenever an active window is hidden or destroyed.
  if (show != SW_HIDE) ShowWindow(window.get(), SW_SHOWNA);
  if (show == SW_MINIMIZE) ShowWindow(window.get(), SW_MINIMIZE);
  return window;
}

TEST_F(RenderTest, PipPicksOnlyShownDiscordScreenShareWindowsOrTheConfiguredTitle) {
  for (const wchar_t* name : {kChrome, kOther}) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;  // PrintWindow's erase fills the client white
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = name;
    RegisterClassW(&wc);
  }
  struct Case { const wchar_t* className; const wchar_t* title; int show; const wchar_t* filter; bool picked; };
  const Case cases[] = {
      {kChrome, L"Go Live - Voxmere Test", SW_SHOWNA, L"", true},
      {kChrome, L"\u753B\u9762\u5171\u6709", SW_SHOWNA, L"", true},
      {kChrome, L"screen share", SW_SHOWNA, L"", false},
      {kChrome, L"Discord", SW_SHOWNA, L"", false},
      {kOther, L"Screen Share", SW_SHOWNA, L"", false},
      {kChrome, L"Screen Share", SW_HIDE, L"", false},
      {kChrome, L"Screen Share", SW_MINIMIZE, L"", false},
      // A filter replaces the built-in rule (a "Screen Share" window is up too) and is case-sensitive.
      {kOther, L"Voxmere PiP Probe view", SW_SHOWNA, L"PiP Probe", true},
      {kOther, L"Voxmere PiP Probe view", SW_SHOWNA, L"pip probe", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    Window share = *c.filter ? Open(kChrome, L"Screen Share", SW_SHOWNA) : Window(nullptr, DestroyWindow);
    Window window = Open(c.className, c.title, c.show);
    PipCapture pip;
    Frame(640, 400);
    const DrawSettings settings = DrawSettingsOf(Config());
    pip.Draw(DrawContext{GetRenderer(), g_frame, PixelRect(), settings}, 50, 50, 320, 180, 0.9f, c.filter);
    EXPECT_EQ(pip.pipWindow, c.picked ? window.get() : nullptr);
    int drawn = Count(40, 40, 380, 240, [](const Pixel& p) { return p.a > 200; });
    EXPECT_TRUE(c.picked ? drawn > 300 * 160 : drawn == 0) << drawn;
  }
}

}  // namespace
