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
