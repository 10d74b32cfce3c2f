#include <gtest/gtest.h>

#include "app/text_convert.h"

// debug.log is UTF-8: narrow messages widened one unit per byte come back as
// their bytes, wide text is encoded, a lone surrogate becomes U+FFFD.
TEST(TextConvert, ConversionsAndLogBytes) {
  const std::wstring emoji = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
  EXPECT_TRUE(Utf8ToWide("\xF0\x9F\x98\x80") == emoji && WideToUtf8(L"a" + emoji) == "a\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf8ToWide(std::string("ab\0cd", 5)), L"ab");  // ends at the first NUL
  const std::pair<std::wstring, std::string> logCases[] = {
      {BytesToWide("\xE3\x81\x82 ok"), "\xE3\x81\x82 ok"}, {std::wstring(1, static_cast<wchar_t>(0xE9)), "\xE9"},
      {Utf8ToWide("\xE3\x81\x82"), "\xE3\x81\x82"}, {emoji.substr(0, 1), "\xEF\xBF\xBD"}};
  for (const auto& c : logCases) EXPECT_EQ(WideToLogBytes(c.first), c.second) << c.second;
  EXPECT_EQ(SafeUtf16Prefix(L"ab" + emoji + L"c", 3), 2u);  // a prefix never splits a pair
}
