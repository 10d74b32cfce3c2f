// The plugin's version as BetterDiscord reads it, and the order of versions
// that decides the update offer.
#include <gtest/gtest.h>

#include "ui/plugin_version.h"

namespace {

TEST(PluginVersion, ReadFromTheOpeningCommentBlock) {
  const struct {
    const char* text;
    const char* version;
  } cases[] = {
      {"/**\n * @name Tallybell\n * @version 1.2.0\n */\n", "1.2.0"},
      {"\xEF\xBB\xBF/**\r\n * @version 1.1.0 \r\n */", "1.1.0"},  // BOM, CRLF, trailing space
      {"\n/** @version 2.0 */", "2.0"},                             // one line, after white space
      {"/**\n * @versionless 9\n * @version\t3\n */", "3"},         // the tag alone, not a longer one
      {"/**\n * @name Tallybell\n */\n// @version 1.2.0\n", ""},   // outside the block
      {"\"use strict\";\n/**\n * @version 1.2.0\n */", ""},        // the block must open the file
      {"/**\n * @version 1.2.0\n", ""},                             // never closed
      {"/**\n * @version \n */", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(PluginVersionOf(c.text), c.version) << c.text;
}

TEST(PluginVersion, ComparedNumberByNumber) {
  const struct {
    const char *a, *b;
    std::optional<int> order;
  } cases[] = {
      {"1.1.0", "1.2.0", -1}, {"1.2.0", "1.1.0", 1}, {"1.2.0", "1.2.0", 0},
      {"1.9.0", "1.10.0", -1},  // numbers, not text
      {"1.2", "1.2.0", 0},      {"1.2.0.1", "1.2", 1}, {"01.2", "1.2", 0},
      {"1.2.0-beta", "1.2.0", std::nullopt}, {"", "1.0", std::nullopt}, {"1..2", "1.2", std::nullopt},
      {"1.2.", "1.2", std::nullopt}, {"v1.2", "1.2", std::nullopt}, {"1.9999999999", "1.2", std::nullopt},
  };
  for (const auto& c : cases) {
    const std::optional<int> order = CompareVersions(c.a, c.b);
    EXPECT_EQ(order.has_value(), c.order.has_value()) << c.a << " vs " << c.b;
    if (order && c.order) {
      EXPECT_EQ(*order < 0 ? -1 : *order > 0 ? 1 : 0, *c.order) << c.a << " vs " << c.b;
    }
  }
}

}  // namespace
