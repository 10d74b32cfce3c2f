// Where a notification card stands and what its text lines read: the slot of
// each stacked card, the slide-in offset, the sizes that follow the font size
// and the content ellipsis. No platform calls; the drawing code measures.
// The sizes here are those at 96 DPI; scale (the monitor's DPI over 96)
// makes every distance and size of a placed card.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

constexpr int kCardWidth = 380;
constexpr int kCardRadius = 12;
constexpr int kCardShadowOffset = 4;
constexpr int kCardAvatarSize = 48;
constexpr float kCardContentMaxWidth = 282.0f;

// notification_position values, in the settings window's order.
enum CardPosition {
  kCardTopRight = 0,
  kCardTopLeft = 1,
  kCardBottomRight = 2,
  kCardBottomLeft = 3,
  kCardTopCenter = 4,
  kCardBottomCenter = 5,
};

// max((fs + 4) * 6, 90), scaled
int CardHeight(int fontSize, float scale);
// Distance between stacked slots: the card height plus a 10-pixel gap.
int CardStep(int fontSize, float scale);
// Top of the slot of the index-th card, oldest (index 0) nearest the edge.
int CardSlotY(int position, int windowHeight, int fontSize, size_t index, float scale);

// One line of a card's text: where its layout box starts, at what size.
struct CardTextLine {
  int x = 0;
  int y = 0;
  float points = 0.0f;
  bool bold = true;
};

// One card placed for drawing, in window pixels; drawing and the redraw
// rectangles both take it from here.
struct CardLayout {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  int radius = 0;
  int shadow = 0;  // offset of the shadow, right and down
  int avatarX = 0;
  int avatarY = 0;
  int avatarSize = 0;
  float contentMaxWidth = 0.0f;
  float scale = 1.0f;
  CardTextLine name;     // fs + 4 points, bold
  CardTextLine content;  // fs points, bold, cut to kCardContentMaxWidth
  CardTextLine channel;  // fs - 2 points, regular
};

// The card of a slot, moved by its slide-in: at 0 it lies just outside the
// screen edge it comes from, at 1 it stands in its slot.
CardLayout PlaceCard(int position, int windowWidth, int slotY, int fontSize, float slideIn, float scale);
// A 96-DPI distance at that scale, rounded to whole pixels.
int ScalePx(int units, float scale);

// "" without a channel, "#channel" without a server, else "server • #channel".
std::wstring CardChannelLine(const std::wstring& channelName, const std::wstring& serverName);

// The letter of the placeholder avatar: the first user-perceived character,
// upper-cased when it is a single unit; an emoji or a letter with its marks
// is kept whole.
std::wstring CardInitial(const std::wstring& displayName);

// Content cut with "..." until measure() gives at most maxWidth; a content of
// three units or fewer is never cut, and a cut never splits a user-perceived
// character (a flag, a ZWJ sequence, a letter and its marks).
std::wstring EllipsizeContent(const std::wstring& content, const std::function<float(const std::wstring&)>& measure,
                              float maxWidth);
