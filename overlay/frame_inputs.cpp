#include "overlay/frame_inputs.h"

#include <algorithm>
#include <cstring>

#include "overlay/card_geometry.h"

namespace {

// Beyond a tile's diameter: the outer halo ellipse lies 8 pixels out with a
// 5-pixel pen, plus a pixel of anti-aliasing.
constexpr int kTileReach = 12;
// Around texts, pills and cards: shadows (1 or 4 pixels), pens and anti-aliasing.
constexpr int kEdgeReach = 3;
constexpr int kPipReach = 3 + 2 + 1;  // frame inset, outline pen, anti-aliasing
// A kind's window is placed on this grid with this margin, and replaced by a
// tighter one once it is this many times bigger than what it holds.
constexpr int kWindowGrid = 32;
constexpr int kWindowMargin = 32;
constexpr int64_t kWindowSlack = 4;

// Appends values as 32-bit words; floats by their bits, so equal settings
// always compare equal (NaN included), strings with their length first, so
// neighbouring strings cannot run into each other.
class SignatureWriter {
 public:
  explicit SignatureWriter(Signature& out) : out_(out) {}
  void Add(uint32_t value) { out_.push_back(value); }
  void Add(int32_t value) { out_.push_back(static_cast<uint32_t>(value)); }
  void Add(bool value) { out_.push_back(value ? 1u : 0u); }
  void Add(float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    out_.push_back(bits);
  }
  void Add(const std::wstring& text) {
    out_.push_back(static_cast<uint32_t>(text.size()));
    for (wchar_t unit : text) out_.push_back(static_cast<uint32_t>(unit));
  }
  void Add(const std::string& bytes) {
    out_.push_back(static_cast<uint32_t>(bytes.size()));
    for (char byte : bytes) out_.push_back(static_cast<uint32_t>(static_cast<unsigned char>(byte)));
  }

 private:
  Signature& out_;
};

// The view and every setting, as the settings file holds them: drawing reads
// its settings from the same snapshot, so no setting it uses can be left out.
Signature SignLayout(const Config& c, const FrameView& v) {
  Signature layout;
  SignatureWriter w(layout);
  w.Add(v.x);
  w.Add(v.y);
  w.Add(v.width);
  w.Add(v.height);
  w.Add(v.dragMode);
  w.Add(c.display_scale);
  for (char byte : FormatConfigText(c)) w.Add(static_cast<uint32_t>(static_cast<unsigned char>(byte)));
  return layout;
}

PixelRect Box(int x, int y, int width, int height, int reach) {
  return {x - reach, y - reach, x + width + reach, y + height + reach};
}

// A reach grows with the pens and shadows it covers; a pixel of it is kept
// for anti-aliasing at any scale.
int Reach(int units, float scale) { return ScalePx(units - 1, scale) + 1; }

PixelRect TextBox(const CardTextLine& line, const std::wstring& text, const TextSize& textSize, float scale) {
  TextExtent extent = textSize(text, line.points, line.bold);
  return Box(line.x, line.y, static_cast<int>(extent.width) + 1, static_cast<int>(extent.height) + 1,
             Reach(kEdgeReach, scale));
}

// Every pixel a tile so placed may touch, its label included.
PixelRect TileRect(const TilePlace& tile, const VoiceUser& m, const Config& config, const TextSize& textSize) {
  const float scale = config.display_scale;
  PixelRect rect = Box(tile.x, tile.y, tile.size, tile.size, Reach(kTileReach, scale));
  const std::wstring& name = m.displayName.empty() ? m.username : m.displayName;
  if (config.show_names && !name.empty()) {
    const PixelRect label = LabelReach(PlaceLabel(tile, config, m, textSize));
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

bool MarksLive(const VoiceUser& m, const Config& config) { return config.show_stream_marks && m.live; }
bool MarksVideo(const VoiceUser& m, const Config& config) { return config.show_stream_marks && m.video; }

// The marks' width for a name of that size, gaps included.
int MarksWidth(const VoiceUser& m, const Config& config, float points, int pillHeight, const TextSize& textSize) {
  const int gap = Px(kMarkGap, config), inset = Px(kMarkInset, config);
  const int height = std::max(1, pillHeight - 2 * inset);
  int width = 0;
  if (MarksLive(m, config))
    width += gap + static_cast<int>(textSize(kLiveMarkText, points * kLiveTextScale, true).width) + 2 * inset;
  if (MarksVideo(m, config)) width += gap + height * 3 / 2;
  return width;
}

void PlaceMarks(LabelPlace& label, const VoiceUser& m, const Config& config, const TextSize& textSize) {
  const int gap = Px(kMarkGap, config), inset = Px(kMarkInset, config);
  const PixelRect& pill = label.pill;
  const int top = pill.top + inset;
  const int bottom = std::max(top + 1, pill.bottom - inset);
  int x = pill.right;
  if (MarksLive(m, config)) {
    label.livePoints = label.points * kLiveTextScale;
    const int width = static_cast<int>(textSize(kLiveMarkText, label.livePoints, true).width) + 2 * inset;
    label.live = {x + gap, top, x + gap + width, bottom};
    x = label.live.right;
  }
  if (MarksVideo(m, config)) label.camera = {x + gap, top, x + gap + (bottom - top) * 3 / 2, bottom};
}

FrameItem MemberItem(size_t slot, const MemberTile& m, const Config& config, uint32_t now, bool avatar,
                     const TextSize& textSize) {
  FrameItem item;
  item.kind = FrameItemKind::kMember;
  item.index = slot;
  TilePlace tile = PlaceTile(slot, m, config, now);
  const std::wstring& name = m.displayName.empty() ? m.username : m.displayName;
  SignatureWriter w(item.signature);
  w.Add(m.id);
  w.Add(name);
  w.Add(m.speaking);
  w.Add(m.muted);
  w.Add(m.deafened);
  w.Add(m.bot);
  w.Add(m.localMute);
  w.Add(m.live);
  w.Add(m.video);
  w.Add(tile.scale);
  w.Add(avatar);
  if (tile.size >= 1) item.rect = TileRect(tile, m, config, textSize);  // else drawn as nothing
  // The full-size tile's: a growing tile stays within it.
  MemberTile still = m;
  still.joinTick = 0;
  item.room = TileRect(PlaceTile(slot, still, config, now), still, config, textSize);
  return item;
}

FrameItem CardItem(size_t slot, const OverlayNotification& card, const Config& config, int frameWidth,
                   int frameHeight, bool avatar, const TextSize& textSize) {
  FrameItem item;
  item.kind = FrameItemKind::kCard;
  item.index = slot;
  SignatureWriter w(item.signature);
  w.Add(card.data.displayName);
  w.Add(card.data.content);
  w.Add(card.data.channelName);
  w.Add(card.data.serverName);
  w.Add(card.data.userId);
  w.Add(card.alpha);
  w.Add(avatar);
  w.Add(card.slideIn);  // last: LookOf leaves it out

  int fs = config.notification_font_size;
  int position = config.notification_position;
  const float scale = config.display_scale;
  int slotY = CardSlotY(position, frameHeight, fs, slot, scale);
  CardLayout c = PlaceCard(position, frameWidth, slotY, fs, card.slideIn, scale);
  item.rect = Box(c.x, c.y, c.width + c.shadow, c.height + c.shadow, Reach(kEdgeReach, scale));

  // The name and the channel line are not cut to the card; a long one runs past it.
  item.rect = Enclose(item.rect, TextBox(c.name, card.data.displayName, textSize, scale));
  std::wstring channel = CardChannelLine(card.data.channelName, card.data.serverName);
  if (!channel.empty()) item.rect = Enclose(item.rect, TextBox(c.channel, channel, textSize, scale));
  // A content of three units or fewer is never cut, however wide.
  if (card.data.content.size() <= 3)
    item.rect = Enclose(item.rect, TextBox(c.content, card.data.content, textSize, scale));
  // The slide moves the card and its texts alike.
  CardLayout end = PlaceCard(position, frameWidth, slotY, fs, 1.0f, scale);
  const PixelRect& r = item.rect;
  int dx = end.x - c.x, dy = end.y - c.y;
  item.room = Enclose(r, PixelRect{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy});
  return item;
}

FrameItem PipItem(const Config& c, uint32_t generation) {
  FrameItem item;
  item.kind = FrameItemKind::kPip;
  const PixelRect frame = PipFrame(c);
  item.rect = Box(frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top,
                  Reach(kPipReach, c.display_scale));
  item.room = item.rect;
  SignatureWriter(item.signature).Add(generation);
  return item;
}

bool SameItem(const FrameItem& a, const FrameItem& b) { return a.kind == b.kind && a.index == b.index; }

}  // namespace

Signature LookOf(const FrameItem& item) {
  const size_t placeWords = item.kind == FrameItemKind::kCard ? 1 : 0;
  return Signature(item.signature.begin(), item.signature.end() - static_cast<std::ptrdiff_t>(placeWords));
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

bool IsRowLayout(const Config& config) { return config.member_layout == "horizontal"; }

int Px(int units, const Config& config) { return ScalePx(units, config.display_scale); }

PixelRect PipFrame(const Config& c) {
  const int x = Px(c.pip_x, c), y = Px(c.pip_y, c);
  return {x, y, x + Px(std::max(0, c.pip_width), c), y + Px(std::max(0, c.pip_height), c)};
}

int MemberPitch(const Config& config) {
  const int tile = Px(config.avatar_size, config);
  return (IsRowLayout(config) ? 2 * tile : tile) + Px(kMemberColumnGap, config);
}

size_t MembersOnScreen(size_t count, const Config& config, int frameWidth, int frameHeight) {
  const bool row = IsRowLayout(config);
  int64_t start = Px(row ? config.overlay_x : config.overlay_y, config);
  const int64_t end = row ? frameWidth : frameHeight;
  size_t shown = 0;
  while (shown < count && start <= end) {
    ++shown;
    start += MemberPitch(config);
  }
  return shown;
}

TilePlace PlaceTile(size_t slot, const MemberTile& member, const Config& config, uint32_t now) {
  TilePlace tile;
  int s = Px(config.avatar_size, config);
  tile.scale = JoinScale(member.joinTick, now);
  tile.size = static_cast<int>(static_cast<float>(s) * tile.scale);
  // A growing tile stays centred in its slot, which a row widens for the name.
  const int64_t along = static_cast<int64_t>(slot) * MemberPitch(config);
  const bool row = IsRowLayout(config);
  const int64_t left =
      Px(config.overlay_x, config) + (row ? along + (MemberPitch(config) - Px(kMemberColumnGap, config) - s) / 2 : 0);
  const int64_t top = Px(config.overlay_y, config) + (row ? 0 : along);
  const int offset = (s - tile.size) / 2;
  tile.x = static_cast<int>(left) + offset;
  tile.y = static_cast<int>(top) + offset;
  if (tile.size < 1) tile.size = 0;
  return tile;
}

LabelPlace PlaceLabel(const TilePlace& tile, const Config& config, const VoiceUser& member, const TextSize& textSize) {
  const float fontSize = static_cast<float>(config.username_font_size) * config.display_scale;
  const int pad = Px(kLabelPad, config);
  const std::wstring text = LabelText(member);
  LabelPlace label;
  label.points = std::max(1.0f, fontSize * tile.scale);
  label.shown = text;
  if (IsRowLayout(config)) {
    // The pill and its marks fill at most the slot's name room. Cut at the
    // full size, so the cut stays the same through the entry animation.
    const float fullPoints = std::max(1.0f, fontSize);
    auto width = [&](const std::wstring& candidate) { return textSize(candidate, fullPoints, true).width; };
    const int fullPill = static_cast<int>(textSize(text, fullPoints, true).height) + 2 * Px(4, config);
    const float room = static_cast<float>(MemberPitch(config) - Px(kMemberColumnGap, config) - 2 * pad -
                                          MarksWidth(member, config, fullPoints, fullPill, textSize));
    label.shown = EllipsizeContent(text, width, room);
  }
  label.text = textSize(label.shown, label.points, true);
  const int w = static_cast<int>(label.text.width), h = static_cast<int>(label.text.height);
  if (IsRowLayout(config)) {
    // Under the full-size tile, whatever the entry animation's size.
    const int full = Px(config.avatar_size, config);
    const int slotTop = tile.y - (full - tile.size) / 2;
    label.textX = tile.x + tile.size / 2 - w / 2;
    label.textY = slotTop + full + Px(8, config);
  } else {
    label.textX = tile.x + tile.size + Px(10, config);
    // The configured size, not the entry animation's.
    label.textY = tile.y + tile.size / 2 - Px((2 * config.username_font_size) / 3, config);
  }
  const int rim = Px(4, config);
  label.pill = {label.textX - pad, label.textY - rim, label.textX + w + pad, label.textY + h + rim};
  if (IsRowLayout(config)) {
    // Name and marks together stay centred under the tile.
    const int shift = MarksWidth(member, config, label.points, label.pill.bottom - label.pill.top, textSize) / 2;
    label.textX -= shift;
    label.pill.left -= shift;
    label.pill.right -= shift;
  }
  PlaceMarks(label, member, config, textSize);
  return label;
}

PixelRect LabelReach(const LabelPlace& label) { return Enclose(Enclose(label.pill, label.live), label.camera); }

std::wstring LabelText(const VoiceUser& member) {
  const std::wstring& name = member.displayName.empty() ? member.username : member.displayName;
  return member.bot ? name + L" [BOT]" : name;
}


FrameSignature SignFrame(const OverlayState& state, const Config& config, const FrameView& view, uint32_t now,
                         const AvatarShown& avatarShown, const TextSize& textSize) {
  FrameSignature frame;
  frame.valid = true;
  frame.layout = SignLayout(config, view);
  size_t members = MembersOnScreen(state.shown.size(), config, view.width, view.height);
  for (size_t i = 0; i < members; ++i) {
    const MemberTile& m = state.shown[i];
    frame.items.push_back(MemberItem(i, m, config, now, avatarShown(MemberAvatarSource(m)), textSize));
  }
  for (size_t i = 0; i < state.notifications.size(); ++i) {
    const OverlayNotification& card = state.notifications[i];
    const bool avatar = avatarShown(AvatarSource{card.data.userId, card.data.avatarHash, {}});
    frame.items.push_back(CardItem(i, card, config, view.width, view.height, avatar, textSize));
  }
  if (view.pipShown) frame.items.push_back(PipItem(config, view.pipGeneration));
  return frame;
}

PixelRect DirtyRect(const FrameSignature& pushed, const FrameSignature& next, const PixelRect& area) {
  if (!pushed.valid || pushed.layout != next.layout) return area;
  PixelRect dirty;
  // Items keep their drawing order (members, cards, picture), each kind by slot.
  auto comesFirst = [](const FrameItem& a, const FrameItem& b) {
    return a.kind != b.kind ? a.kind < b.kind : a.index < b.index;
  };
  size_t i = 0, j = 0;
  while (i < pushed.items.size() || j < next.items.size()) {
    const FrameItem* old = i < pushed.items.size() ? &pushed.items[i] : nullptr;
    const FrameItem* now = j < next.items.size() ? &next.items[j] : nullptr;
    if (old && now && SameItem(*old, *now)) {
      if (old->signature != now->signature || !(old->rect == now->rect))
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
  if (item.kind == FrameItemKind::kMember && item.index > 0) return kPaneKinds - 1 + item.index;
  return static_cast<size_t>(item.kind);
}

FrameSignature ItemsOfPane(const FrameSignature& frame, size_t pane) {
  FrameSignature part;
  part.valid = frame.valid;
  part.layout = frame.layout;
  for (const FrameItem& item : frame.items)
    if (PaneOf(item) == pane) part.items.push_back(item);
  return part;
}

size_t PanesNeeded(const FrameSignature& frame) {
  size_t panes = kPaneKinds;
  for (const FrameItem& item : frame.items) panes = std::max(panes, PaneOf(item) + 1);
  return panes;
}

PixelRect RoomOf(const FrameSignature& frame) {
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
