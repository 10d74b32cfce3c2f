#include "overlay/card_geometry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

constexpr int kW = 1920;
constexpr int kH = 1080;

bool IsHigh(wchar_t u) { return (static_cast<uint32_t>(u) & 0xFFFF) >= 0xD800 && (static_cast<uint32_t>(u) & 0xFFFF) <= 0xDBFF; }

// Width model: ASCII letters 10 px, 'W' 20 px, surrogate units 9 px each.
float Measure(const std::wstring& text) {
  float width = 0;
  for (wchar_t u : text) width += (u == L'W') ? 20.0f : ((static_cast<uint32_t>(u) & 0xF800) == 0xD800 ? 9.0f : 10.0f);
  return width;
}

// The rule as users see it described: drop four units, add "...", then one
// more each pass, until it fits or three units remain.
std::wstring LinearEllipsis(std::wstring text, float maxWidth) {
  while (Measure(text) > maxWidth && text.size() > 3) text = text.substr(0, text.size() - 4) + L"...";
  return text;
}

std::wstring Utf16Emoji() {
  std::wstring pair;
  pair += static_cast<wchar_t>(0xD83D);
  pair += static_cast<wchar_t>(0xDE00);
  return pair;
}

}  // namespace

TEST(CardGeometry, PlacementPerPositionAndSlide) {
  struct Case {
    int position;
    float slideIn;
    int x;
    int y;
  };
  // Slot of the first card; fs 12: card 96 high, step 106.
  const Case cases[] = {
      {kCardTopRight, 1.0f, 1520, 20},    {kCardTopRight, 0.5f, 1735, 20},     {kCardTopRight, 0.0f, 1950, 20},
      {kCardTopLeft, 1.0f, 20, 20},       {kCardTopLeft, 0.5f, -195, 20},      {kCardTopLeft, 0.0f, -410, 20},
      {kCardBottomRight, 1.0f, 1520, 954}, {kCardBottomRight, 0.0f, 1950, 954}, {kCardBottomLeft, 1.0f, 20, 954},
      {kCardBottomLeft, 0.0f, -410, 954}, {kCardTopCenter, 1.0f, 770, 20},     {kCardTopCenter, 0.0f, 770, -126},
      {kCardTopCenter, 0.5f, 770, -53},   {kCardBottomCenter, 1.0f, 770, 954}, {kCardBottomCenter, 0.0f, 770, 1100},
      {-1, 0.5f, 1735, 20},               {6, 0.5f, 1735, 20},  // unknown positions draw as top right
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "position " << c.position << " slideIn " << c.slideIn);
    CardLayout card = PlaceCard(c.position, kW, CardSlotY(c.position, kH, 12, 0), 12, c.slideIn);
    EXPECT_EQ(card.x, c.x);
    EXPECT_EQ(card.y, c.y);
    EXPECT_EQ(card.height, 96);
  }
  // At slideIn 0 every card is wholly off screen on the side it comes from.
  EXPECT_GE(PlaceCard(kCardTopRight, kW, 20, 12, 0.0f).x, kW);
  EXPECT_LE(PlaceCard(kCardTopLeft, kW, 20, 12, 0.0f).x + kCardWidth, 0);
  EXPECT_LE(PlaceCard(kCardTopCenter, kW, 20, 12, 0.0f).y + 96, 0);
  EXPECT_GE(PlaceCard(kCardBottomCenter, kW, CardSlotY(kCardBottomCenter, kH, 12, 0), 12, 0.0f).y, kH);
}

TEST(CardText, Initial) {
  EXPECT_EQ(CardInitial(L""), L"");
  EXPECT_EQ(CardInitial(L"alice"), L"A");
  EXPECT_EQ(CardInitial(L"7up"), L"7");
  EXPECT_EQ(CardInitial(Utf16Emoji() + L"gamer"), Utf16Emoji());
  // A lone surrogate is one unit like any other.
  EXPECT_EQ(CardInitial(std::wstring(1, static_cast<wchar_t>(0xD83D)) + L"x"), std::wstring(1, static_cast<wchar_t>(0xD83D)));
}

TEST(CardText, EllipsisMatchesTheStepwiseRule) {
  // Every length from the shortest to a long message, plain and with wide
  // letters that make the width uneven.
  for (size_t length = 0; length < 120; ++length) {
    for (const wchar_t* fill : {L"a", L"aW"}) {
      std::wstring content;
      while (content.size() < length) content += fill;
      content.resize(length);
      SCOPED_TRACE(testing::Message() << "length " << length << " fill " << (fill[1] ? "mixed" : "plain"));
      std::wstring shown = EllipsizeContent(content, Measure, kCardContentMaxWidth);
      EXPECT_EQ(shown, LinearEllipsis(content, kCardContentMaxWidth));
      if (shown != content) {
        EXPECT_LE(Measure(shown), kCardContentMaxWidth);
        EXPECT_EQ(shown.substr(shown.size() - 3), L"...");
      }
    }
  }
}

TEST(CardText, EllipsisNeverSplitsASurrogatePair) {
  // Emoji between letters, cut at every possible width.
  std::wstring content;
  for (int i = 0; i < 20; ++i) content += L"x" + Utf16Emoji();
  for (float maxWidth = 30.0f; maxWidth < 600.0f; maxWidth += 1.0f) {
    SCOPED_TRACE(maxWidth);
    std::wstring shown = EllipsizeContent(content, Measure, maxWidth);
    if (shown == content) continue;
    ASSERT_GE(shown.size(), 3u);
    std::wstring kept = shown.substr(0, shown.size() - 3);
    EXPECT_EQ(kept, content.substr(0, kept.size()));
    if (!kept.empty()) {
      EXPECT_FALSE(IsHigh(kept.back()));
    }
    EXPECT_LE(Measure(shown), maxWidth);
    // Nothing more could have been kept: the next whole character overflows.
    size_t next = kept.size() + (IsHigh(content[kept.size()]) ? 2 : 1);
    if (next + 4 <= content.size()) {
      EXPECT_GT(Measure(content.substr(0, next) + L"..."), maxWidth);
    }
  }
}
