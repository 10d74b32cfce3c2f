// Everything that decides the pixels of an overlay frame, flattened per drawn
// item (member tile, card, picture-in-picture) into comparable signatures
// with the rectangle each item may touch. Comparing the next frame with the
// one last pushed gives the rectangle to redraw: nothing when the window
// already shows that picture. No platform calls; the caller says which
// avatars are loaded and how wide texts are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/config.h"
#include "overlay/avatar_request.h"
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

// True when the user's avatar image would be drawn (the query may start its
// download, as drawing would).
using AvatarShown = std::function<bool(const AvatarSource& source)>;
// Width and height of a text in the label family at that size.
struct TextExtent {
  float width = 0.0f;
  float height = 0.0f;
};
using TextSize = std::function<TextExtent(const std::wstring& text, float points, bool bold)>;

using Signature = std::vector<uint32_t>;

enum class FrameItemKind : uint32_t { kMember, kCard, kPip };

struct FrameItem {
  FrameItemKind kind = FrameItemKind::kMember;
  size_t index = 0;     // slot of the member or card
  PixelRect rect;       // every pixel its drawing may touch, anti-aliasing included
  PixelRect room;       // rect and where its running slide-in takes it
  Signature signature;  // its drawn inputs
};

struct FrameSignature {
  bool valid = false;     // false: no picture pushed, the next frame is whole
  Signature layout;       // view and settings: a change redraws everything
  std::vector<FrameItem> items;  // in drawing order
};

// Members, cards with their animation state, the picture, the settings
// drawing reads and the view. Members whose slot starts below the frame are
// left out: they are not drawn.
FrameSignature SignFrame(const OverlayState& state, const Config& config, const FrameView& view, uint32_t now,
                         const AvatarShown& avatarShown, const TextSize& textSize);

// What an item's picture shows wherever it stands: its inputs less a card's
// slide-in, which only moves the card.
Signature LookOf(const FrameItem& item);

// What to redraw to go from the pushed picture to the next: the union of the
// old and new rectangles of every item that changed, came or went, kept to
// area; all of area when nothing valid was pushed or the layout changed;
// empty when the pictures are the same.
PixelRect DirtyRect(const FrameSignature& pushed, const FrameSignature& next, const PixelRect& area);

// The overlay shows its items in layered windows (panes) sized to what they
// hold, since under Wine a push costs what the whole window surface costs,
// whatever part of it changed: one per member tile, so that a ring pushes a
// window no bigger than its tile, one for the cards, one for the picture.
// Panes 0 to 2 follow FrameItemKind (pane 0 holds the first member); the
// other members take panes 3 and on.
constexpr size_t kPaneKinds = 3;
size_t PaneOf(const FrameItem& item);
inline bool IsMemberPane(size_t pane) { return pane == 0 || pane >= kPaneKinds; }
FrameSignature ItemsOfPane(const FrameSignature& frame, size_t pane);
// How many panes the frame's items fill: at least one per kind.
size_t PanesNeeded(const FrameSignature& frame);
// The union of the items' rooms.
PixelRect RoomOf(const FrameSignature& frame);
// The part of the window (area) a kind's window covers to hold needed: the
// current part while it holds needed without being far too big for it, else
// needed with a margin, on a coarse grid, so that small moves and growth keep
// the window as it is. Empty when nothing is needed.
PixelRect WindowPart(const PixelRect& current, const PixelRect& needed, const PixelRect& area);

// Sizes and places are the settings' 96-DPI units made pixels by the
// snapshot's display_scale; these constants are those at 96 DPI too.
// A settings distance in pixels at the snapshot's scale.
int Px(int units, const Config& config);
// The picture-in-picture frame in window pixels.
PixelRect PipFrame(const Config& config);
// member_layout "horizontal": the tiles in a row with the names under them;
// anything else is the column with the names beside them.
bool IsRowLayout(const Config& config);
// From one full-size slot to the next: a row leaves each tile a name's room.
int MemberPitch(const Config& config);
// How many members have their slot start within the frame.
size_t MembersOnScreen(size_t count, const Config& config, int frameWidth, int frameHeight);

// Where a member's tile is drawn in its slot: a growing tile stays centred
// in the full-size slot; size 0 draws nothing.
struct TilePlace {
  int x = 0;
  int y = 0;
  int size = 0;
  float scale = 1.0f;
};
TilePlace PlaceTile(size_t slot, const MemberTile& member, const Config& config, uint32_t now);
// The label as drawn: the shown name, " [BOT]" appended for a bot.
std::wstring LabelText(const VoiceUser& member);
// The text of the streaming mark.
constexpr const wchar_t* kLiveMarkText = L"LIVE";
// A name label beside its tile (under it in a row), as drawing and the
// redraw rectangles take it: the text shown (in a row, cut with "..." to its
// slot, so neighbours never overlap), its origin, size and extent, the
// rounded pill behind it, and right of the pill the streaming and camera
// marks (where the member has them and show_stream_marks is on; a row's cut
// leaves them room).
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
LabelPlace PlaceLabel(const TilePlace& tile, const Config& config, const VoiceUser& member, const TextSize& textSize);
// Every pixel of the label and its marks.
PixelRect LabelReach(const LabelPlace& label);
