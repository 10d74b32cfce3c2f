#include <gtest/gtest.h>

#include "app/text_convert.h"

namespace {

const std::wstring kEmoji = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};

}  // namespace

TEST(TextConvert, ConversionsBothWays) {
  EXPECT_EQ(BytesToWide("\xE3" "z"), std::wstring({static_cast<wchar_t>(0xFFE3), L'z'}));
  EXPECT_EQ(WideToBytes(BytesToWide("\xE3\x81\x82")), "\xE3\x81\x82");
  EXPECT_EQ(Utf8ToWide("\xE3\x81\x82"), std::wstring(1, static_cast<wchar_t>(0x3042)));
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), kEmoji);
  EXPECT_EQ(Utf8ToWide(std::string("ab\0cd", 5)), L"ab");  // ends at the first NUL
  EXPECT_EQ(WideToUtf8(L"a" + kEmoji), "a\xF0\x9F\x98\x80");
}

// debug.log is UTF-8: narrow messages widened one unit per byte come back as
// their bytes, wide text is encoded, a lone surrogate becomes U+FFFD.
TEST(TextConvert, LogBytesKeepNarrowMessagesAndEncodeTheRest) {
  const struct {
    std::wstring text;
    std::string bytes;
  } cases[] = {
      {BytesToWide("\xE3\x81\x82 ok"), "\xE3\x81\x82 ok"},
      {std::wstring(1, static_cast<wchar_t>(0xE9)), "\xE9"},
      {Utf8ToWide("\xE3\x81\x82"), "\xE3\x81\x82"},
      {kEmoji, "\xF0\x9F\x98\x80"},
      {kEmoji.substr(0, 1), "\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) EXPECT_EQ(WideToLogBytes(c.text), c.bytes) << c.bytes;
}

TEST(TextConvert, SafePrefixNeverSplitsAPair) {
  const std::wstring text = L"ab" + kEmoji + L"c";
  EXPECT_EQ(SafeUtf16Prefix(text, 3), 2u);
  EXPECT_EQ(SafeUtf16Prefix(text, 4), 4u);
  EXPECT_EQ(SafeUtf16Prefix(text, 50), text.size());
}
