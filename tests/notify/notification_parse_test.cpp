#include <gtest/gtest.h>

#include "notify/notification_parse.h"

// Each row: a received text, the content and display name it gives, and
// whether the parser names a fault.
TEST(ParseNotification, MatchingRules) {
  const struct { const char* text; const wchar_t* content; const wchar_t* displayName; bool fault; } cases[] = {
      {R"({"content" :  "hi", "displayName":"A"})", L"hi", L"A", false},
      {"{\"content\":\t\"hi\"}", L"hi", L"", false},
      {"{\"content\":\n\"hi\"}", L"hi", L"", false},  // any JSON white space
      {R"({"userId":123,"content":null})", L"", L"", false},  // only strings fill a field
      {R"({"Content":"a"})", L"", L"", false},  // keys are case-sensitive
      {R"({"content":"first","content":"second"})", L"first", L"", false},
      {R"({"x":{"content":"nested"},"content":"top"})", L"nested", L"", false},  // first in text order
      {R"({"content":[1],"x":{"content":"later"}})", L"", L"", false},  // the first occurrence decides
      {R"({"content":"say \"hi\" a\\b l1\nl2\r\t\/\b\u00e9\ud83d\udd25"})", L"say \"hi\" a\\b l1\nl2\r\t/\b\u00e9\xD83D\xDD25", L"", false},
      // A value spelled like a key is text, not that key.
      {R"({"content":"username","username":"bob"})", L"username", L"bob", false},
      {R"({"username":"fallback","displayName":""})", L"", L"fallback", false},
      // Not JSON: what came before the fault is kept.
      {R"({"displayName":"A","content":"open)", L"", L"A", true},
      {"{\"displayName\":\"A\",\"content\":\"line\nbreak\"}", L"", L"A", true},
      {"{\"displayName\":\"A\"} trailing", L"", L"A", true},
      {"\xE5\xA4\xAA", L"", L"", true},
  };
  for (const auto& c : cases) {
    std::string problem;
    NotificationData data = ParseNotification(c.text, &problem);
    EXPECT_EQ(data.content, c.content) << c.text;
    EXPECT_EQ(data.displayName, c.displayName) << c.text;
    EXPECT_EQ(!problem.empty(), c.fault) << c.text << ": " << problem;
  }
}

// A fault's description goes to debug.log: it says where, never what the
// message said.
TEST(ParseNotification, FaultNeverQuotesTheMessage) {
  for (const char* text : {R"({"displayName":"A","content":"meet at nine)", "{\"content\":\"meet\nat nine\"}",
                           R"({"content":"x"} "meet at nine")"}) {
    std::string problem;
    ParseNotification(text, &problem);
    EXPECT_FALSE(problem.empty()) << text;
    EXPECT_EQ(problem.find("nine"), std::string::npos) << problem;
  }
}
