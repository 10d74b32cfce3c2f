#include <gtest/gtest.h>

#include "notify/notification_parse.h"

TEST(ExtractJsonString, MatchingRules) {
  const char* cases[][3] = {
      {R"({"content" :  "hi"})", "content", "hi"},
      {"{\"content\":\t\"hi\"}", "content", "hi"},
      {"{\"content\":\n\"hi\"}", "content", ""},
      {R"({"userId":123})", "userId", ""},
      {R"({"Content":"a"})", "content", ""},
      {R"({"content":"first","content":"second"})", "content", "first"},
      {R"({"content":"say \"hi\" a\\b l1\nl2\r\t\/\b\u00e9"})", "content", "say \"hi\" a\\b l1\nl2\r\t/bu00e9"},
      {R"({"content":"open)", "content", "open"},
      {R"({"content":"ends\)", "content", "ends\\"},
      {R"({"content":)", "content", ""},
      // A value spelled like a key is found first; the next colon's value wins.
      {R"({"content":"username","username":"bob"})", "username", "bob"},
  };
  for (auto& c : cases) EXPECT_EQ(ExtractJsonString(c[0], c[1]), c[2]) << c[0];
}

TEST(ParseNotification, FieldsAndFallback) {
  NotificationData d = ParseNotification(
      R"({"username":"u","displayName":"D","content":"c","avatarUrl":"https://x/a.png","channelName":"general",)"
      R"("serverName":"S","avatarHash":"abc","userId":"42"})");
  const std::wstring fields[] = {d.username,    d.displayName, d.content,    d.avatarUrl,
                                 d.channelName, d.serverName,  d.avatarHash, d.userId};
  const std::wstring expected[] = {L"u", L"D", L"c", L"https://x/a.png", L"general", L"S", L"abc", L"42"};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(fields[i], expected[i]) << i;

  EXPECT_EQ(ParseNotification(R"({"username":"bob","displayName":""})").displayName, L"bob");
  EXPECT_TRUE(ParseNotification(R"({"content":"orphan"})").displayName.empty());
  EXPECT_EQ(ParseNotification("{\"displayName\":\"\xE5\xA4\xAA\xF0\x9F\x98\x80\"}").displayName,
            std::wstring({0x592A, static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)}));
}
