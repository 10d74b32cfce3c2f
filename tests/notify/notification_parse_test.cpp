#include <gtest/gtest.h>

#include "notify/notification_parse.h"

TEST(ExtractJsonString, MatchingRules) {
  struct Case {
    const char* text;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {R"({"content":"hi"})", "content", "hi"},
      {R"({"content" : "hi"})", "content", "hi"},
      {"{\"content\":\t \"hi\"}", "content", "hi"},
      {"{\"content\":\n\"hi\"}", "content", ""},
      {"{\"content\":\r\n\"hi\"}", "content", ""},
      {R"({"userId":123})", "userId", ""},
      {R"({"content":null})", "content", ""},
      {R"({"content":["a"]})", "content", ""},
      {R"({"Content":"a"})", "content", ""},
      {R"({"content":"first","content":"second"})", "content", "first"},
      {R"({"content":"say \"hi\""})", "content", "say \"hi\""},
      {R"({"content":"a\\b"})", "content", "a\\b"},
      {R"({"content":"l1\nl2\r\t."})", "content", "l1\nl2\r\t."},
      {R"({"content":"\u00e9\/\b"})", "content", "u00e9/b"},
      {R"({"content":"open)", "content", "open"},
      {R"({"content":"ends\)", "content", "ends\\"},
      {R"({"content":)", "content", ""},
      {R"({"content")", "content", ""},
      {R"({"a":"content","content":"x"})", "content", "x"},
      // A value spelled like a key is found first; the next colon's value wins.
      {R"({"content":"username","username":"bob"})", "username", "bob"},
      {"not json", "content", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ExtractJsonString(c.text, c.key), c.expected) << c.text;
}

TEST(ParseNotification, FieldsAndFallback) {
  NotificationData d = ParseNotification(
      R"({"username":"u","displayName":"D","content":"c","avatarUrl":"https://x/a.png","channelName":"general",)"
      R"("serverName":"S","avatarHash":"abc","userId":"42"})");
  EXPECT_EQ(d.username, L"u");
  EXPECT_EQ(d.displayName, L"D");
  EXPECT_EQ(d.content, L"c");
  EXPECT_EQ(d.avatarUrl, L"https://x/a.png");
  EXPECT_EQ(d.channelName, L"general");
  EXPECT_EQ(d.serverName, L"S");
  EXPECT_EQ(d.avatarHash, L"abc");
  EXPECT_EQ(d.userId, L"42");

  EXPECT_EQ(ParseNotification(R"({"username":"bob","displayName":""})").displayName, L"bob");
  EXPECT_EQ(ParseNotification(R"({"username":"bob"})").displayName, L"bob");
  EXPECT_TRUE(ParseNotification(R"({"content":"orphan"})").displayName.empty());
  EXPECT_TRUE(ParseNotification("\x01\xff garbage").displayName.empty());
}

TEST(ParseNotification, NonAsciiArrivesAsUtf16) {
  // "こんにちは" and an emoji outside the BMP, as raw UTF-8.
  NotificationData d = ParseNotification(
      "{\"displayName\":\"\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF\","
      "\"content\":\"\xF0\x9F\x98\x80!\"}");
  EXPECT_EQ(d.displayName, std::wstring({0x3053, 0x3093, 0x306B, 0x3061, 0x306F}));
  ASSERT_EQ(d.content.size(), 3u);
  EXPECT_EQ(static_cast<unsigned>(d.content[0]) & 0xFFFF, 0xD83Du);
  EXPECT_EQ(static_cast<unsigned>(d.content[1]) & 0xFFFF, 0xDE00u);
}

TEST(FormatNotification, ParsesBackToTheSameRecord) {
  NotificationData in;
  in.username = L"user";
  in.displayName = L"Na\"me\\";
  in.content = L"line1\nline2\t{\"x\":1}";
  in.channelName = std::wstring({0x65E5, 0x672C});
  in.userId = L"123456789012345678";
  NotificationData out = ParseNotification(FormatNotification(in));
  EXPECT_EQ(out.username, in.username);
  EXPECT_EQ(out.displayName, in.displayName);
  EXPECT_EQ(out.content, in.content);
  EXPECT_EQ(out.channelName, in.channelName);
  EXPECT_EQ(out.userId, in.userId);
  EXPECT_TRUE(out.avatarUrl.empty());
  EXPECT_EQ(FormatNotification(in).find('\n'), std::string::npos);
}
