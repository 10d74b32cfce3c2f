#include "overlay/frame_layout.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "overlay/card_geometry.h"

namespace {

// Around texts, pills and cards: shadows (1 or 4 pixels), pens and anti-aliasing.
constexpr int kEdgeReach = 3;
// A kind's window is placed on this grid with this margin, and replaced by a
// tighter one once it is this many times bigger than what it holds.
constexpr int kWindowGrid = 32;
constexpr int kWindowMargin = 32;
constexpr int64_t kWindowSlack = 4;

// Floats by their bits, so equal settings always compare equal, NaN included.
bool Same(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

PixelRect Box(int x, int y, int width, int height, int reach) {
  return {x - reach, y - reach, x + width + reach, y + height + reach};
}

// A reach grows with the pens and shadows it covers; a pixel of it is kept
// for anti-aliasing at any scale.
int Reach(int units, float scale) { return ScalePx(units - 1, scale) + 1; }

// Beyond a tile's circle: the farthest edge of its rings' pens, and a pixel
// of anti-aliasing.
int TileReach(float scale) {
  float farthest = kSpeakingRingOut + kSpeakingRingPen / 2.0f;
  for (int ring = 1; ring <= kHaloRings; ++ring) farthest = std::max(farthest, HaloOut(ring) + HaloPen(ring) / 2.0f);
  return Reach(static_cast<int>(std::ceil(farthest)) + 1, scale);
}

// The picture-in-picture frame's inset and the outline's pen beyond it.
int PipReach(float scale) { return Reach(kPipFrameInset + static_cast<int>(std::ceil(kPipOutlinePen)) + 1, scale); }

PixelRect TextBox(const CardTextLine& line, const std::wstring& text, const TextSize& textSize, float scale) {
  TextExtent extent = textSize(text, line.points, line.bold);
  return Box(line.x, line.y, static_cast<int>(extent.width) + 1, static_cast<int>(extent.height) + 1,
             Reach(kEdgeReach, scale));
}

// Every pixel a tile so placed may touch, its label included.
PixelRect TileRect(const TileItem& tile, float scale) {
  const TilePlace& place = tile.place;
  PixelRect rect = Box(place.x, place.y, place.size, place.size, TileReach(scale));
  if (tile.labeled) {
    const PixelRect label = LabelReach(tile.label);
    rect = Enclose(rect, Box(label.left, label.top, label.right - label.left, label.bottom - label.top,
                             Reach(kEdgeReach, scale)));
  }
  return rect;
}

// The marks beside a label: their gap to the pill and to each other, the
// "LIVE" text's size to the name's, and the camera mark's width to its height.
constexpr int kMarkGap = 4;
constexpr int kMarkInset = 3;  // from the pill's top and bottom
constexpr float kLiveTextScale = 0.75f;

bool MarksLive(const VoiceUser& m, const DrawSettings& settings) { return settings.show_stream_marks && m.live; }
bool MarksVideo(const VoiceUser& m, const DrawSettings& settings) { return settings.show_stream_marks && m.video; }

// The marks' width for a name of that size, gaps included.
int MarksWidth(const VoiceUser& m, const DrawSettings& settings, float points, int pillHeight,
               const TextSize& textSize) {
  const int gap = Px(kMarkGap, settings), inset = Px(kMarkInset, settings);
  const int height = std::max(1, pillHeight - 2 * inset);
  int width = 0;
  if (MarksLive(m, settings))
    width += gap + static_cast<int>(textSize(kLiveMarkText, points * kLiveTextScale, true).width) + 2 * inset;
  if (MarksVideo(m, settings)) width += gap + height * 3 / 2;
  return width;
}

void PlaceMarks(LabelPlace& label, const VoiceUser& m, const DrawSettings& settings, const TextSize& textSize) {
  const int gap = Px(kMarkGap, settings), inset = Px(kMarkInset, settings);
  const PixelRect& pill = label.pill;
  const int top = pill.top + inset;
  const int bottom = std::max(top + 1, pill.bottom - inset);
  int x = pill.right;
  if (MarksLive(m, settings)) {
    label.livePoints = label.points * kLiveTextScale;
    const int width = static_cast<int>(textSize(kLiveMarkText, label.livePoints, true).width) + 2 * inset;
    label.live = {x + gap, top, x + gap + width, bottom};
    x = label.live.right;
  }
  if (MarksVideo(m, settings)) label.camera = {x + gap, top, x + gap + (bottom - top) * 3 / 2, bottom};
}

TileItem PlaceTileItem(size_t slot, const MemberTile& m, const DrawSettings& settings, uint32_t now,
                       const LayoutProbes& probes) {
  TileItem tile;
  tile.place = PlaceTile(slot, m, settings, now);
  tile.avatar = MemberAvatarSource(m);
  tile.look = {m.id, ShownName(m), m.speaking, m.muted, m.deafened, m.bot, m.localMute, m.live, m.video,
               tile.place.scale, probes.avatarShown(tile.avatar)};
  tile.labeled = settings.show_names && !tile.look.name.empty();
  if (tile.labeled) tile.label = PlaceLabel(tile.place, settings, m, probes.textSize);
  return tile;
}

FrameItem MemberItem(size_t slot, const MemberTile& m, const DrawSettings& settings, uint32_t now,
                     const LayoutProbes& probes) {
  FrameItem item;
  item.index = slot;
  TileItem tile = PlaceTileItem(slot, m, settings, now, probes);
  if (tile.place.size >= 1) item.rect = TileRect(tile, settings.display_scale);  // else drawn as nothing
  if (tile.look.scale < 1.0f || tile.place.size < 1) {
    // The full-size tile's: a growing tile stays within it.
    MemberTile still = m;
    still.joinTick = 0;
    item.room = TileRect(PlaceTileItem(slot, still, settings, now, probes), settings.display_scale);
  } else {
    item.room = item.rect;
  }
  item.what = std::move(tile);
  return item;
}

FrameItem CardItemOf(size_t slot, const OverlayNotification& card, const DrawSettings& settings, int frameWidth,
                     int frameHeight, const LayoutProbes& probes) {
  FrameItem item;
  item.index = slot;
  const NotificationData& data = card.data;
  CardItem placed;
  placed.look = {data.displayName, data.content, CardChannelLine(data.channelName, data.serverName), data.userId,
                 card.alpha, probes.avatarShown(AvatarSource{data.userId, data.avatarHash, {}})};
  placed.avatarHash = data.avatarHash;
  const int fs = settings.notification_font_size;
  const int position = settings.notification_position;
  const float scale = settings.display_scale;
  const int slotY = CardSlotY(position, frameHeight, fs, slot, scale);
  const CardLayout& c = placed.layout = PlaceCard(position, frameWidth, slotY, fs, card.slideIn, scale);
  placed.shownContent = probes.contentCut(data.content, c.content, c.contentMaxWidth);
  item.rect = Box(c.x, c.y, c.width + c.shadow, c.height + c.shadow, Reach(kEdgeReach, scale));

  // The name and the channel line are not cut to the card; a long one runs past it.
  item.rect = Enclose(item.rect, TextBox(c.name, data.displayName, probes.textSize, scale));
  if (!placed.look.channel.empty())
    item.rect = Enclose(item.rect, TextBox(c.channel, placed.look.channel, probes.textSize, scale));
  // A content of three units or fewer is never cut, however wide.
  if (data.content.size() <= 3) item.rect = Enclose(item.rect, TextBox(c.content, data.content, probes.textSize, scale));
  // The slide moves the card and its texts alike.
  item.room = item.rect;
  if (card.slideIn != 1.0f) {
    const CardLayout end = PlaceCard(position, frameWidth, slotY, fs, 1.0f, scale);
    const PixelRect& r = item.rect;
    const int dx = end.x - c.x, dy = end.y - c.y;
    item.room = Enclose(r, PixelRect{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy});
  }
  item.what = std::move(placed);
  return item;
}

FrameItem PipItemOf(const DrawSettings& settings, uint32_t generation) {
  FrameItem item;
  const PixelRect frame = PipFrame(settings);
  item.rect = Box(frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top,
                  PipReach(settings.display_scale));
  item.room = item.rect;
  item.what = PipItem{frame, generation};
  return item;
}

bool SameView(const FrameView& a, const FrameView& b) {
  return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height && a.dragMode == b.dragMode;
}

bool SameSlot(const FrameItem& a, const FrameItem& b) { return a.Kind() == b.Kind() && a.index == b.index; }

}  // namespace

bool DrawSettings::operator==(const DrawSettings& o) const {
  return Same(display_scale, o.display_scale) && show_avatars == o.show_avatars && show_names == o.show_names &&
         show_stream_marks == o.show_stream_marks && row_layout == o.row_layout && avatar_size == o.avatar_size &&
         overlay_x == o.overlay_x && overlay_y == o.overlay_y && username_font_size == o.username_font_size &&
         Same(inactive_opacity, o.inactive_opacity) && Same(username_label_opacity, o.username_label_opacity) &&
         speaking_color == o.speaking_color && muted_color == o.muted_color && deafened_color == o.deafened_color &&
         border_color == o.border_color && Same(border_opacity, o.border_opacity) &&
         notification_position == o.notification_position && notification_font_size == o.notification_font_size &&
         pip_x == o.pip_x && pip_y == o.pip_y && pip_width == o.pip_width && pip_height == o.pip_height &&
         Same(pip_opacity, o.pip_opacity);
}

DrawSettings DrawSettingsOf(const Config& c) {
  DrawSettings s;
  s.display_scale = c.display_scale;
  s.show_avatars = c.show_avatars;
  s.show_names = c.show_names;
  s.show_stream_marks = c.show_stream_marks;
  s.row_layout = c.member_layout == "horizontal";
  s.avatar_size = c.avatar_size;
  s.overlay_x = c.overlay_x;
  s.overlay_y = c.overlay_y;
  s.username_font_size = c.username_font_size;
  s.inactive_opacity = c.inactive_opacity;
  s.username_label_opacity = c.username_label_opacity;
  s.speaking_color = c.speaking_color;
  s.muted_color = c.muted_color;
  s.deafened_color = c.deafened_color;
  s.border_color = c.border_color;
  s.border_opacity = c.border_opacity;
  s.notification_position = c.notification_position;
  s.notification_font_size = c.notification_font_size;
  s.pip_x = c.pip_x;
  s.pip_y = c.pip_y;
  s.pip_width = c.pip_width;
  s.pip_height = c.pip_height;
  s.pip_opacity = c.pip_opacity;
  return s;
}

bool TileLook::operator==(const TileLook& o) const {
  return id == o.id && name == o.name && speaking == o.speaking && muted == o.muted && deafened == o.deafened &&
         bot == o.bot && localMute == o.localMute && live == o.live && video == o.video && Same(scale, o.scale) &&
         avatarShown == o.avatarShown;
}

bool CardLook::operator==(const CardLook& o) const {
  return name == o.name && content == o.content && channel == o.channel && userId == o.userId &&
         Same(alpha, o.alpha) && avatarShown == o.avatarShown;
}

bool FrameItem::LooksLike(const FrameItem& other) const {
  if (Kind() != other.Kind()) return false;
  if (const auto* tile = std::get_if<TileItem>(&what)) return tile->look == std::get<TileItem>(other.what).look;
  if (const auto* card = std::get_if<CardItem>(&what)) return card->look == std::get<CardItem>(other.what).look;
  return std::get<PipItem>(what).generation == std::get<PipItem>(other.what).generation;
}

const std::wstring& FrameItem::AvatarHash() const {
  static const std::wstring kNone;
  if (const auto* tile = std::get_if<TileItem>(&what)) return tile->avatar.avatarHash;
  if (const auto* card = std::get_if<CardItem>(&what)) return card->avatarHash;
  return kNone;
}

bool FrameLayout::SameFrame(const FrameLayout& other) const {
  return settings == other.settings && SameView(view, other.view);
}

PixelRect Enclose(const PixelRect& a, const PixelRect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
          std::max(a.bottom, b.bottom)};
}

PixelRect Overlap(const PixelRect& a, const PixelRect& b) {
  PixelRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
  return r.Empty() ? PixelRect() : r;
}

bool IsRowLayout(const DrawSettings& settings) { return settings.row_layout; }

int Px(int units, const DrawSettings& settings) { return ScalePx(units, settings.display_scale); }

PixelRect PipFrame(const DrawSettings& c) {
  const int x = Px(c.pip_x, c), y = Px(c.pip_y, c);
  return {x, y, x + Px(std::max(0, c.pip_width), c), y + Px(std::max(0, c.pip_height), c)};
}

int MemberPitch(const DrawSettings& settings) {
  const int tile = Px(settings.avatar_size, settings);
  return (IsRowLayout(settings) ? 2 * tile : tile) + Px(kMemberColumnGap, settings);
}

size_t MembersOnScreen(size_t count, const DrawSettings& settings, int frameWidth, int frameHeight) {
  const bool row = IsRowLayout(settings);
  int64_t start = Px(row ? settings.overlay_x : settings.overlay_y, settings);
  const int64_t end = row ? frameWidth : frameHeight;
  size_t shown = 0;
  while (shown < count && start <= end) {
    ++shown;
    start += MemberPitch(settings);
  }
  return shown;
}

TilePlace PlaceTile(size_t slot, const MemberTile& member, const DrawSettings& settings, uint32_t now) {
  TilePlace tile;
  int s = Px(settings.avatar_size, settings);
  tile.scale = JoinScale(member.joinTick, now);
  tile.size = static_cast<int>(static_cast<float>(s) * tile.scale);
  // A growing tile stays centred in its slot, which a row widens for the name.
  const int64_t along = static_cast<int64_t>(slot) * MemberPitch(settings);
  const bool row = IsRowLayout(settings);
  const int64_t left =
      Px(settings.overlay_x, settings) + (row ? along + (MemberPitch(settings) - Px(kMemberColumnGap, settings) - s) / 2 : 0);
  const int64_t top = Px(settings.overlay_y, settings) + (row ? 0 : along);
  const int offset = (s - tile.size) / 2;
  tile.x = static_cast<int>(left) + offset;
  tile.y = static_cast<int>(top) + offset;
  if (tile.size < 1) tile.size = 0;
  return tile;
}

LabelPlace PlaceLabel(const TilePlace& tile, const DrawSettings& settings, const VoiceUser& member, const TextSize& textSize) {
  const float fontSize = static_cast<float>(settings.username_font_size) * settings.display_scale;
  const int pad = Px(kLabelPad, settings);
  const std::wstring text = LabelText(member);
  LabelPlace label;
  label.points = std::max(1.0f, fontSize * tile.scale);
  label.shown = text;
  if (IsRowLayout(settings)) {
    // The pill and its marks fill at most the slot's name room. Cut at the
    // full size, so the cut stays the same through the entry animation.
    const float fullPoints = std::max(1.0f, fontSize);
    auto width = [&](const std::wstring& candidate) { return textSize(candidate, fullPoints, true).width; };
    const int fullPill = static_cast<int>(textSize(text, fullPoints, true).height) + 2 * Px(4, settings);
    const float room = static_cast<float>(MemberPitch(settings) - Px(kMemberColumnGap, settings) - 2 * pad -
                                          MarksWidth(member, settings, fullPoints, fullPill, textSize));
    label.shown = EllipsizeContent(text, width, room);
  }
  label.text = textSize(label.shown, label.points, true);
  const int w = static_cast<int>(label.text.width), h = static_cast<int>(label.text.height);
  if (IsRowLayout(settings)) {
    // Under the full-size tile, whatever the entry animation's size.
    const int full = Px(settings.avatar_size, settings);
    const int slotTop = tile.y - (full - tile.size) / 2;
    label.textX = tile.x + tile.size / 2 - w / 2;
    label.textY = slotTop + full + Px(8, settings);
  } else {
    label.textX = tile.x + tile.size + Px(10, settings);
    // The configured size, not the entry animation's.
    label.textY = tile.y + tile.size / 2 - Px((2 * settings.username_font_size) / 3, settings);
  }
  const int rim = Px(4, settings);
  label.pill = {label.textX - pad, label.textY - rim, label.textX + w + pad, label.textY + h + rim};
  if (IsRowLayout(settings)) {
    // Name and marks together stay centred under the tile.
    const int shift = MarksWidth(member, settings, label.points, label.pill.bottom - label.pill.top, textSize) / 2;
    label.textX -= shift;
    label.pill.left -= shift;
    label.pill.right -= shift;
  }
  PlaceMarks(label, member, settings, textSize);
  return label;
}

PixelRect LabelReach(const LabelPlace& label) { return Enclose(Enclose(label.pill, label.live), label.camera); }

std::wstring LabelText(const VoiceUser& member) {
  return member.bot ? ShownName(member) + L" [BOT]" : ShownName(member);
}


FrameLayout LayOutFrame(const OverlayState& state, const DrawSettings& settings, const FrameView& view, uint32_t now,
                        const LayoutProbes& probes) {
  FrameLayout frame;
  frame.valid = true;
  frame.settings = settings;
  frame.view = view;
  const size_t members = MembersOnScreen(state.shown.size(), settings, view.width, view.height);
  for (size_t i = 0; i < members; ++i) frame.items.push_back(MemberItem(i, state.shown[i], settings, now, probes));
  for (size_t i = 0; i < state.notifications.size(); ++i)
    frame.items.push_back(CardItemOf(i, state.notifications[i], settings, view.width, view.height, probes));
  if (view.pipShown) frame.items.push_back(PipItemOf(settings, view.pipGeneration));
  return frame;
}

PixelRect DirtyRect(const FrameLayout& pushed, const FrameLayout& next, const PixelRect& area) {
  if (!pushed.valid || !pushed.SameFrame(next)) return area;
  PixelRect dirty;
  // Items keep their drawing order (members, cards, picture), each kind by slot.
  auto comesFirst = [](const FrameItem& a, const FrameItem& b) {
    return a.Kind() != b.Kind() ? a.Kind() < b.Kind() : a.index < b.index;
  };
  size_t i = 0, j = 0;
  while (i < pushed.items.size() || j < next.items.size()) {
    const FrameItem* old = i < pushed.items.size() ? &pushed.items[i] : nullptr;
    const FrameItem* now = j < next.items.size() ? &next.items[j] : nullptr;
    if (old && now && SameSlot(*old, *now)) {
      if (!old->LooksLike(*now) || !(old->rect == now->rect))
        dirty = Enclose(dirty, Enclose(old->rect, now->rect));
      ++i;
      ++j;
    } else if (old && (!now || comesFirst(*old, *now))) {
      dirty = Enclose(dirty, old->rect);  // gone
      ++i;
    } else {
      dirty = Enclose(dirty, now->rect);  // new
      ++j;
    }
  }
  return Overlap(dirty, area);
}

size_t PaneOf(const FrameItem& item) {
  if (item.Kind() == FrameItemKind::kMember && item.index > 0) return kPaneKinds - 1 + item.index;
  return static_cast<size_t>(item.Kind());
}

FrameLayout ItemsOfPane(const FrameLayout& frame, size_t pane) {
  FrameLayout part;
  part.valid = frame.valid;
  part.settings = frame.settings;
  part.view = frame.view;
  for (const FrameItem& item : frame.items)
    if (PaneOf(item) == pane) part.items.push_back(item);
  return part;
}

size_t PanesNeeded(const FrameLayout& frame) {
  size_t panes = kPaneKinds;
  for (const FrameItem& item : frame.items) panes = std::max(panes, PaneOf(item) + 1);
  return panes;
}

PixelRect RoomOf(const FrameLayout& frame) {
  PixelRect room;
  for (const FrameItem& item : frame.items) room = Enclose(room, item.room);
  return room;
}

PixelRect WindowPart(const PixelRect& current, const PixelRect& needed, const PixelRect& area) {
  PixelRect wanted = Overlap(needed, area);
  if (wanted.Empty()) return PixelRect();
  auto size = [](const PixelRect& r) { return static_cast<int64_t>(r.right - r.left) * (r.bottom - r.top); };
  if (Overlap(current, wanted) == wanted && size(current) <= kWindowSlack * size(wanted)) return current;
  auto down = [](int v) { return v >= 0 ? v / kWindowGrid * kWindowGrid : -((-v + kWindowGrid - 1) / kWindowGrid) * kWindowGrid; };
  auto up = [&down](int v) { return -down(-v); };
  PixelRect grown{down(wanted.left - kWindowMargin), down(wanted.top - kWindowMargin),
                  up(wanted.right + kWindowMargin), up(wanted.bottom + kWindowMargin)};
  return Overlap(grown, area);
}
