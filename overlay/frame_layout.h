// An overlay frame laid out once: the members, cards and picture-in-picture
// become placed items, each with what it shows and every pixel it may touch.
// Drawing consumes the same items; comparing the next frame's items with the
// ones last pushed gives the rectangle to redraw, nothing when the window
// already shows that picture. No platform calls; the caller says which
// avatars are loaded, how wide texts are and how a card's content is cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "app/config.h"
#include "overlay/avatar_request.h"
#include "overlay/card_geometry.h"
#include "overlay/overlay_state.h"

constexpr int kMemberColumnGap = 8;  // pixels between full-size member slots
constexpr int kLabelPad = 8;         // a name's pill beyond its text, left and right

// The window and picture-in-picture facts a frame depends on.
struct FrameView {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool dragMode = false;
  bool pipShown = false;        // a capture is drawn this frame
  uint32_t pipGeneration = 0;   // changes with every new capture
};

// Half-open pixel rectangle in window coordinates.
struct PixelRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool Empty() const { return right <= left || bottom <= top; }
  bool operator==(const PixelRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};
PixelRect Enclose(const PixelRect& a, const PixelRect& b);  // bounding box; an empty side is ignored
PixelRect Overlap(const PixelRect& a, const PixelRect& b);

// Every setting drawing reads, and nothing else, taken from the settings by
// DrawSettingsOf: sizes and places in 96-DPI units, made pixels by
// display_scale (the monitor's DPI over 96). Drawing reads its settings from
// here alone, so a change of any field redraws everything and no other
// setting can.
struct DrawSettings {
  float display_scale{};
  bool show_avatars{};
  bool show_names{};
  bool show_stream_marks{};
  bool row_layout{};  // member_layout "horizontal"
  int32_t avatar_size{};
  int32_t overlay_x{};
  int32_t overlay_y{};
  int32_t username_font_size{};
  float inactive_opacity{};
  float username_label_opacity{};
  ConfigColor speaking_color{};
  ConfigColor muted_color{};
  ConfigColor deafened_color{};
  ConfigColor border_color{};
  float border_opacity{};
  int32_t notification_position{};
  int32_t notification_font_size{};
  int32_t pip_x{};
  int32_t pip_y{};
  int32_t pip_width{};
  int32_t pip_height{};
  float pip_opacity{};

  bool operator==(const DrawSettings& other) const;
  bool operator!=(const DrawSettings& other) const { return !(*this == other); }
};
// member_layout "horizontal" is the row (the tiles in a row with the names
// under them); anything else is the column with the names beside them.
DrawSettings DrawSettingsOf(const Config& config);

// True when the user's avatar image would be drawn (the query may start its
// download, as drawing would).
using AvatarShown = std::function<bool(const AvatarSource& source)>;
// Width and height of a text in the label family at that size.
struct TextExtent {
  float width = 0.0f;
  float height = 0.0f;
};
using TextSize = std::function<TextExtent(const std::wstring& text, float points, bool bold)>;
// A card's content as the card shows it on that line, cut to maxWidth.
using ContentCut = std::function<std::wstring(const std::wstring& content, const CardTextLine& line, float maxWidth)>;
// What laying out asks of the platform.
struct LayoutProbes {
  AvatarShown avatarShown;
  TextSize textSize;
  ContentCut contentCut;
};

// Sizes and places are the settings' 96-DPI units made pixels by
// display_scale; these constants are those at 96 DPI too.
// A settings distance in pixels at the settings' scale.
int Px(int units, const DrawSettings& settings);
// The picture-in-picture frame in window pixels.
PixelRect PipFrame(const DrawSettings& settings);
bool IsRowLayout(const DrawSettings& settings);
// From one full-size slot to the next: a row leaves each tile a name's room.
int MemberPitch(const DrawSettings& settings);
// How many members have their slot start within the frame.
size_t MembersOnScreen(size_t count, const DrawSettings& settings, int frameWidth, int frameHeight);

// The rings a tile is drawn with, at 96 DPI: the speaking ring, and the
// halo's ellipses, the i-th (1 to kHaloRings) 2i out with an (i + 1) pen.
// Drawing and a tile's reach both take them from here.
constexpr float kSpeakingRingOut = 4.0f;
constexpr float kSpeakingRingPen = 6.0f;
constexpr int kHaloRings = 4;
inline float HaloOut(int ring) { return 2.0f * static_cast<float>(ring); }
inline float HaloPen(int ring) { return static_cast<float>(ring + 1); }
// The picture-in-picture's frame around the capture, at 96 DPI.
constexpr int kPipFrameInset = 3;
constexpr float kPipOutlinePen = 2.0f;

// Where a member's tile is drawn in its slot: a growing tile stays centred
// in the full-size slot; size 0 draws nothing.
struct TilePlace {
  int x = 0;
  int y = 0;
  int size = 0;
  float scale = 1.0f;
};
TilePlace PlaceTile(size_t slot, const MemberTile& member, const DrawSettings& settings, uint32_t now);
// The label as drawn: the shown name, " [BOT]" appended for a bot.
std::wstring LabelText(const VoiceUser& member);
// The text of the streaming mark.
constexpr const wchar_t* kLiveMarkText = L"LIVE";
// A name label beside its tile (under it in a row): the text shown (in a
// row, cut with "..." to its slot, so neighbours never overlap), its origin,
// size and extent, the rounded pill behind it, and right of the pill the
// streaming and camera marks (where the member has them and
// show_stream_marks is on; a row's cut leaves them room).
struct LabelPlace {
  std::wstring shown;
  int textX = 0;
  int textY = 0;
  float points = 0.0f;
  TextExtent text;
  PixelRect pill;
  PixelRect live;          // empty: no mark
  float livePoints = 0.0f;  // its text's size
  PixelRect camera;        // empty: no mark
};
LabelPlace PlaceLabel(const TilePlace& tile, const DrawSettings& settings, const VoiceUser& member,
                      const TextSize& textSize);
// Every pixel of the label and its marks.
PixelRect LabelReach(const LabelPlace& label);

// What a tile shows wherever it stands.
struct TileLook {
  std::string id;
  std::wstring name;  // the shown name
  bool speaking = false;
  bool muted = false;
  bool deafened = false;
  bool bot = false;
  bool localMute = false;
  bool live = false;
  bool video = false;
  float scale = 1.0f;  // of the entry animation
  bool avatarShown = false;
  bool operator==(const TileLook& other) const;
};

// A member tile placed: its look, its avatar, its label when it has one.
struct TileItem {
  TilePlace place;
  TileLook look;
  AvatarSource avatar;
  bool labeled = false;  // show_names and a name to show
  LabelPlace label;
};

// What a card shows wherever it stands.
struct CardLook {
  std::wstring name;
  std::wstring content;
  std::wstring channel;  // CardChannelLine
  std::wstring userId;
  float alpha = 1.0f;
  bool avatarShown = false;
  bool operator==(const CardLook& other) const;
};

// A card placed, moved by its slide-in, with the content as it shows it.
struct CardItem {
  CardLayout layout;
  CardLook look;
  std::wstring avatarHash;
  std::wstring shownContent;  // the content cut to the card
};

struct PipItem {
  PixelRect frame;  // the capture's rectangle; its frame lies around it
  uint32_t generation = 0;
};

enum class FrameItemKind : uint32_t { kMember, kCard, kPip };

struct FrameItem {
  size_t index = 0;  // slot of the member or card
  PixelRect rect;    // every pixel its drawing may touch, anti-aliasing included
  PixelRect room;    // rect and where its running slide-in takes it
  std::variant<TileItem, CardItem, PipItem> what;  // in FrameItemKind's order

  FrameItemKind Kind() const { return static_cast<FrameItemKind>(what.index()); }
  // True when both show the same picture, wherever they stand.
  bool LooksLike(const FrameItem& other) const;
  // The picture the item shows: its avatar's hash picks the image.
  const std::wstring& AvatarHash() const;
};

struct FrameLayout {
  bool valid = false;     // false: no picture pushed, the next frame is whole
  DrawSettings settings{};  // a change redraws everything, as does one of the view's
  FrameView view;
  std::vector<FrameItem> items;  // in drawing order
  // Settings and view alike: every item is drawn as before.
  bool SameFrame(const FrameLayout& other) const;
};

// Members, cards with their animation state, the picture, under the
// settings in the view. Members whose slot starts below the frame are left
// out: they are not drawn.
FrameLayout LayOutFrame(const OverlayState& state, const DrawSettings& settings, const FrameView& view, uint32_t now,
                        const LayoutProbes& probes);

// What to redraw to go from the pushed picture to the next: the union of the
// old and new rectangles of every item that changed, came or went, kept to
// area; all of area when nothing valid was pushed or the settings or the
// view changed; empty when the pictures are the same.
PixelRect DirtyRect(const FrameLayout& pushed, const FrameLayout& next, const PixelRect& area);

// The overlay shows its items in layered windows (panes) sized to what they
// hold, since under Wine a push costs what the whole window surface costs,
// whatever part of it changed: one per member tile, so that a ring pushes a
// window no bigger than its tile, one for the cards, one for the picture.
// Panes 0 to 2 follow FrameItemKind (pane 0 holds the first member); the
// other members take panes 3 and on.
constexpr size_t kPaneKinds = 3;
size_t PaneOf(const FrameItem& item);
inline bool IsMemberPane(size_t pane) { return pane == 0 || pane >= kPaneKinds; }
FrameLayout ItemsOfPane(const FrameLayout& frame, size_t pane);
// How many panes the frame's items fill: at least one per kind.
size_t PanesNeeded(const FrameLayout& frame);
// The union of the items' rooms.
PixelRect RoomOf(const FrameLayout& frame);
// The part of the window (area) a kind's window covers to hold needed: the
// current part while it holds needed without being far too big for it, else
// needed with a margin, on a coarse grid, so that small moves and growth keep
// the window as it is. Empty when nothing is needed.
PixelRect WindowPart(const PixelRect& current, const PixelRect& needed, const PixelRect& area);
