#include "overlay/card_geometry.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kEmoji = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
bool IsHigh(wchar_t u) { return u >= 0xD800 && u <= 0xDBFF; }
// Width model: 10 px a unit, so a cut can fall between a pair's halves.
float Measure(const std::wstring& text) { return 10.0f * text.size(); }

}  // namespace

TEST(CardGeometry, PlacementPerPositionAndSlide) {
  struct Case { int position; float slideIn; int x, y; };
  const Case cases[] = {
      {kCardTopRight, 1.0f, 1520, 20},    {kCardTopRight, 0.0f, 1950, 20},     {kCardTopLeft, 0.5f, -195, 20},
      {kCardBottomLeft, 1.0f, 20, 954},   {kCardTopCenter, 0.0f, 770, -126},   {kCardBottomCenter, 0.0f, 770, 1100},
      {6, 0.5f, 1735, 20},  // unknown positions draw as top right
  };
  for (const Case& c : cases) {
    CardLayout card = PlaceCard(c.position, 1920, CardSlotY(c.position, 1080, 12, 0, 1.0f), 12, c.slideIn, 1.0f);
    EXPECT_EQ(card.x, c.x) << c.position << " " << c.slideIn;
    EXPECT_EQ(card.y, c.y) << c.position << " " << c.slideIn;
  }
}

// At 144 DPI a card and all it holds are 1.5 times the 96-DPI sizes, its
// slot 1.5 times as far from the corner.
TEST(CardGeometry, SizesAndPlacesAtOneAndAHalf) {
  const CardLayout card = PlaceCard(kCardTopRight, 2880, CardSlotY(kCardTopRight, 1620, 12, 1, 1.5f), 12, 1.0f, 1.5f);
  struct Field { const char* name; double value, expected; };
  const Field fields[] = {
      {"x", card.x, 2880 - 600}, {"y", card.y, 30 + 159}, {"width", card.width, 570}, {"height", card.height, 144},
      {"radius", card.radius, 18}, {"avatar size", card.avatarSize, 72}, {"avatar x", card.avatarX, 2280 + 24},
      {"name points", card.name.points, 24}, {"content points", card.content.points, 18},
      {"content width", card.contentMaxWidth, 423}, {"content y", card.content.y, 189 + 12 + 33},
  };
  for (const Field& f : fields) EXPECT_DOUBLE_EQ(f.value, f.expected) << f.name;
}

TEST(CardText, InitialAndEllipsisKeepUserPerceivedCharactersWhole) {
  const std::wstring flag = L"\xD83C\xDDEF\xD83C\xDDF5";
  const std::pair<std::wstring, std::wstring> initials[] = {
      {kEmoji + L"gamer", kEmoji}, {flag + L"jp", flag}, {L"e\x0301va", L"e\x0301"}, {L"zoe", L"Z"}, {L"", L""}};
  for (const auto& [name, initial] : initials) EXPECT_EQ(CardInitial(name), initial);
  std::wstring flags;
  for (int i = 0; i < 10; ++i) flags += flag;
  const std::wstring cut = EllipsizeContent(flags, Measure, 100.0f);
  EXPECT_EQ(cut, flag + L"...") << "one whole flag, not a flag and a half";
  std::wstring content;
  for (int i = 0; i < 20; ++i) content += L"x" + kEmoji;
  for (float maxWidth = 30.0f; maxWidth < 600.0f; maxWidth += 1.0f) {
    std::wstring shown = EllipsizeContent(content, Measure, maxWidth);
    if (shown == content) continue;
    ASSERT_GE(shown.size(), 3u);
    std::wstring kept = shown.substr(0, shown.size() - 3);
    EXPECT_EQ(shown, content.substr(0, kept.size()) + L"...") << maxWidth;
    EXPECT_TRUE(kept.empty() || !IsHigh(kept.back())) << maxWidth;
    EXPECT_LE(Measure(shown), maxWidth);
    EXPECT_GT(Measure(shown), maxWidth - 20) << "at most one half-pair more dropped";
  }
}
