#include <gtest/gtest.h>

#include <cwchar>

#include "app/text.h"

TEST(TextTable, EveryEntryHasBothLanguages) {
  for (int i = 0; i < kTextCount; ++i) {
    const TextEntry& entry = TextTable(static_cast<TextId>(i));
    ASSERT_NE(entry.english, nullptr) << i;
    ASSERT_NE(entry.japanese, nullptr) << i;
    EXPECT_GT(wcslen(entry.english), 0u) << i;
    EXPECT_GT(wcslen(entry.japanese), 0u) << i;
  }
}

TEST(TextTable, LanguageSelectsTheText) {
  g_language = 1;
  EXPECT_STREQ(Text(kTextExit), L"終了");
  EXPECT_STREQ(Text(kTextLanguageEnglish), L"English");
  g_language = 0;
  EXPECT_STREQ(Text(kTextExit), L"Exit");
  EXPECT_STREQ(Text(kTextLanguageJapanese), L"日本語");
  for (TextId same : {kTextTrayTitle, kTextAlreadyRunningCaption, kTextOverlayTitle})
    EXPECT_STREQ(TextTable(same).english, TextTable(same).japanese);
}

TEST(TextTable, BetterDiscordNoticeEndsWithTheWebAddress) {
  for (const wchar_t* text : {TextTable(kTextBetterDiscordMissing).english, TextTable(kTextBetterDiscordMissing).japanese}) {
    const wchar_t* lastLine = wcsrchr(text, L'\n');
    ASSERT_NE(lastLine, nullptr);
    EXPECT_EQ(wcsncmp(lastLine + 1, L"https://", 8), 0);
  }
  EXPECT_NE(wcsstr(TextTable(kTextPluginFileNotFound).english, L"%s"), nullptr);
}
