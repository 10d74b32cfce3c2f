#include "overlay/card_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cwctype>

#include "overlay/text_clusters.h"

namespace {

constexpr int kEdgeMargin = 20;
constexpr int kSideInset = 400;  // right-side cards: W - 400, 20 from the edge
constexpr int kSlideDistance = 430;
constexpr int kVerticalSlideExtra = 50;
constexpr int kSlotGap = 10;
constexpr int kAvatarInset = 16;
constexpr int kTextInset = 76;
constexpr int kNameTop = 8;
const wchar_t kEllipsis[] = L"...";
constexpr size_t kEllipsisUnits = 3;

bool IsValidPosition(int position) { return position >= kCardTopRight && position <= kCardBottomCenter; }

// Out-of-range values are handled as loading does: top right.
int NormalPosition(int position) { return IsValidPosition(position) ? position : kCardTopRight; }

bool StacksUpwards(int position) {
  return position == kCardBottomRight || position == kCardBottomLeft || position == kCardBottomCenter;
}

}  // namespace

int ScalePx(int units, float scale) { return static_cast<int>(std::lround(static_cast<float>(units) * scale)); }

int CardHeight(int fontSize, float scale) { return ScalePx(std::max((fontSize + 4) * 6, 90), scale); }

int CardStep(int fontSize, float scale) { return CardHeight(fontSize, scale) + ScalePx(kSlotGap, scale); }

int CardSlotY(int position, int windowHeight, int fontSize, size_t index, float scale) {
  int step = CardStep(fontSize, scale);
  int offset = step * static_cast<int>(index);
  const int margin = ScalePx(kEdgeMargin, scale);
  if (StacksUpwards(NormalPosition(position))) return windowHeight - step - margin - offset;
  return margin + offset;
}

CardLayout PlaceCard(int position, int windowWidth, int slotY, int fontSize, float slideIn, float scale) {
  auto px = [scale](int units) { return ScalePx(units, scale); };
  CardLayout card;
  card.scale = scale;
  card.width = px(kCardWidth);
  card.height = CardHeight(fontSize, scale);
  card.radius = px(kCardRadius);
  card.shadow = px(kCardShadowOffset);
  card.avatarSize = px(kCardAvatarSize);
  card.contentMaxWidth = kCardContentMaxWidth * scale;
  card.y = slotY;
  float away = 1.0f - slideIn;
  int horizontalSlide = static_cast<int>(away * static_cast<float>(px(kSlideDistance)));
  int verticalSlide = static_cast<int>(static_cast<float>(card.height + px(kVerticalSlideExtra)) * away);
  switch (NormalPosition(position)) {
    case kCardTopRight:
    case kCardBottomRight:
      card.x = windowWidth - px(kSideInset) + horizontalSlide;
      break;
    case kCardTopLeft:
    case kCardBottomLeft:
      card.x = px(kEdgeMargin) - horizontalSlide;
      break;
    case kCardTopCenter:
      card.x = (windowWidth - card.width) / 2;
      card.y = slotY - verticalSlide;
      break;
    default:  // bottom centre
      card.x = (windowWidth - card.width) / 2;
      card.y = slotY + verticalSlide;
      break;
  }
  card.avatarX = card.x + px(kAvatarInset);
  card.avatarY = card.y + (card.height - card.avatarSize) / 2;
  const int textX = card.x + px(kTextInset);
  const auto fs = static_cast<float>(fontSize);
  card.name = {textX, card.y + px(kNameTop), (fs + 4.0f) * scale, true};
  card.content = {textX, card.name.y + px(fontSize + 10), fs * scale, true};
  card.channel = {textX, card.content.y + px(fontSize + 6), (fs - 2.0f) * scale, false};
  return card;
}

std::wstring CardChannelLine(const std::wstring& channelName, const std::wstring& serverName) {
  if (channelName.empty()) return std::wstring();
  if (serverName.empty()) return L"#" + channelName;
  return serverName + L" \u2022 #" + channelName;
}

std::wstring CardInitial(const std::wstring& displayName) {
  size_t first = ClusterLength(displayName, 0);
  if (first != 1) return displayName.substr(0, first);
  return std::wstring(1, static_cast<wchar_t>(std::towupper(static_cast<wint_t>(displayName[0]))));
}

// The rule is "drop one more unit and measure again"; a binary search over the
// kept length finds the same text for any width that grows with the text,
// in a dozen measurements instead of one per unit of a long message.
std::wstring EllipsizeContent(const std::wstring& content, const std::function<float(const std::wstring&)>& measure,
                              float maxWidth) {
  if (content.size() <= kEllipsisUnits || measure(content) <= maxWidth) return content;
  auto cut = [&content](size_t keep) { return content.substr(0, ClusterPrefixWithin(content, keep)) + kEllipsis; };
  // Never more than length - 4 units survive the first cut; "..." alone is
  // where the cutting stops, whether or not it fits.
  size_t best = 0;
  size_t low = 1;
  size_t high = content.size() - kEllipsisUnits - 1;
  while (low <= high) {
    size_t middle = low + (high - low) / 2;
    if (measure(cut(middle)) <= maxWidth) {
      best = middle;
      low = middle + 1;
    } else {
      high = middle - 1;
    }
  }
  return cut(best);
}
