#include <gtest/gtest.h>

#include "app/text_convert.h"

// UTF-8 both ways; a lone surrogate becomes U+FFFD.
TEST(TextConvert, Utf8BothWays) {
  const std::wstring emoji = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
  EXPECT_TRUE(Utf8ToWide("\xF0\x9F\x98\x80") == emoji && WideToUtf8(L"a" + emoji) == "a\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf8ToWide(std::string("ab\0cd", 5)), L"ab");  // ends at the first NUL
  // debug.log's encoding: Latin-1 letters (José, Müller) take two bytes, as
  // UTF-8 wants, not one.
  const std::pair<std::wstring, std::string> utf8Cases[] = {
      {L"Jos\x00E9 M\x00FCller", "Jos\xC3\xA9 M\xC3\xBCller"}, {Utf8ToWide("\xE3\x81\x82"), "\xE3\x81\x82"},
      {std::wstring(1, static_cast<wchar_t>(0xFF80)), "\xEF\xBE\x80"}, {emoji.substr(0, 1), "\xEF\xBF\xBD"}};
  for (const auto& c : utf8Cases) EXPECT_EQ(WideToUtf8(c.first), c.second) << c.second;
}
