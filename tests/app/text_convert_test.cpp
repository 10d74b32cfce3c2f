#include <gtest/gtest.h>

#include "app/text_convert.h"

TEST(TextConvert, BytesAndWideAreOneToOne) {
  EXPECT_EQ(BytesToWide("\xE3"), std::wstring(1, static_cast<wchar_t>(0xFFE3)));
  EXPECT_EQ(BytesToWide("Az"), L"Az");
  EXPECT_EQ(WideToBytes(std::wstring(1, static_cast<wchar_t>(0x3042))), "\x42");
  EXPECT_EQ(WideToBytes(BytesToWide("\xE3\x81\x82")), "\xE3\x81\x82");
}

TEST(TextConvert, Utf8ToWide) {
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(Utf8ToWide("abc"), L"abc");
  EXPECT_EQ(Utf8ToWide("\xE3\x81\x82"), std::wstring(1, static_cast<wchar_t>(0x3042)));
  EXPECT_EQ(Utf8ToWide(std::string("ab\0cd", 5)), L"ab");  // ends at the first NUL
  std::wstring emoji = Utf8ToWide("\xF0\x9F\x98\x80");
  ASSERT_EQ(emoji.size(), 2u);
  EXPECT_EQ(static_cast<uint32_t>(emoji[0]), 0xD83Du);
  EXPECT_EQ(static_cast<uint32_t>(emoji[1]), 0xDE00u);
}

TEST(TextConvert, LogBytesKeepNarrowMessagesAndEncodeTheRest) {
  // A narrow UTF-8 message widened one unit per byte comes back as its bytes.
  EXPECT_EQ(WideToLogBytes(BytesToWide("\xE3\x81\x82 ok")), "\xE3\x81\x82 ok");
  EXPECT_EQ(WideToLogBytes(std::wstring(1, static_cast<wchar_t>(0xE9))), "\xE9");
  EXPECT_EQ(WideToLogBytes(Utf8ToWide("\xE3\x81\x82")), "\xE3\x81\x82");
  EXPECT_EQ(WideToLogBytes(Utf8ToWide("\xF0\x9F\x98\x80")), "\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToLogBytes(std::wstring(1, static_cast<wchar_t>(0xD83D))), "\xEF\xBF\xBD");
}

TEST(TextConvert, SafePrefixNeverSplitsAPair) {
  std::wstring text = L"ab" + Utf8ToWide("\xF0\x9F\x98\x80") + L"c";
  EXPECT_EQ(SafeUtf16Prefix(text, 3), 2u);
  EXPECT_EQ(SafeUtf16Prefix(text, 4), 4u);
  EXPECT_EQ(SafeUtf16Prefix(text, 50), text.size());
  EXPECT_EQ(WideToUtf8(text), "ab\xF0\x9F\x98\x80" "c");
}
