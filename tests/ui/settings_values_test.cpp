#include "ui/settings_values.h"

#include <gtest/gtest.h>

namespace {

TEST(SettingsValuesTest, OpacityShowsTruncatedPercentAndReadsBackHundredths) {
  // 0.29f, 0.57f and 0.58f lie just below their hundredth and show one less.
  const std::pair<float, int> shown[] = {{0.0f, 0}, {0.29f, 28}, {0.4f, 40}, {0.57f, 56},
                                         {0.58f, 57}, {1.0f, 100}, {1.5f, 150}, {-0.05f, -5}};
  for (const auto& [opacity, slider] : shown) EXPECT_EQ(OpacityToSlider(opacity), slider) << opacity;
  for (int position : {0, 28, 41, 100}) EXPECT_FLOAT_EQ(SliderToOpacity(position), position / 100.0f);
  EXPECT_EQ(PercentLabel(150), L"150%");
  EXPECT_EQ(PointLabel(8), L"8pt");
}

TEST(SettingsValuesTest, LanguageItemsMapOnlyExactCodes) {
  const std::pair<std::string, int> items[] = {{"", 0}, {"en", 1}, {"ja", 2}, {"JA", 0}, {"ja ", 0}, {"de", 0}};
  for (const auto& [language, index] : items) EXPECT_EQ(LanguageToIndex(language), index) << language;
  const std::pair<int, std::string> codes[] = {{-1, ""}, {0, ""}, {1, "en"}, {2, "ja"}, {3, ""}};
  for (const auto& [index, language] : codes) EXPECT_EQ(IndexToLanguage(index), language) << index;
}

}  // namespace
