#include <gtest/gtest.h>

#include "rpc/json_scan.h"

TEST(ExtractJsonValue, MatchingRules) {
  struct Case {
    const char* text;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {R"({"evt":null})", "evt", ""},
      {R"({"code": 4006})", "code", "4006"},
      {"{\"code\":\t4006}", "code", "4006"},
      {R"({"code":-1})", "code", ""},
      {R"({"v":1.5e3})", "v", "1.5"},
      {"{\"code\":\n4006}", "code", ""},
      {R"({"x":"a\"b"})", "x", R"(a\"b)"},
      {R"({"name":"\u00e9"})", "name", R"(\u00e9)"},
      {R"({"p":"a\\"})", "p", R"(a\\)"},
      {R"({"bot":true})", "bot", "true"},
      {R"({"bot":true ,"x":1})", "bot", "true "},
      {R"({"b":[true]})", "b", ""},
      {R"({"a":{"id":"1"},"id":"2"})", "id", "1"},
      {R"({"s":"open)", "s", "open"},
      {R"({"s":"ends\)", "s", R"(ends\)"},
      {R"({"o":{"k":1}})", "o", ""},
      {R"({"k":)", "k", ""},
      {R"({"k")", "k", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ExtractJsonValue(c.text, c.key), c.expected) << c.text;
}

TEST(ExtractJsonKeyValue, SkipsOccurrencesThatAreValues) {
  EXPECT_EQ(ExtractJsonKeyValue(R"({"name":"code","type":2})", "code"), "");
  EXPECT_EQ(ExtractJsonKeyValue(R"({"name":"code","data":{"code":4006}})", "code"), "4006");
  EXPECT_EQ(ExtractJsonKeyValue(R"({"code" : 5})", "code"), "5");
  EXPECT_EQ(ExtractJsonKeyValue(R"({"code":"x"})", "code"), "x");
  EXPECT_EQ(ExtractJsonKeyValue(R"({"codex":1})", "code"), "");
  EXPECT_EQ(ExtractJsonKeyValue(R"("code")", "code"), "");
}
