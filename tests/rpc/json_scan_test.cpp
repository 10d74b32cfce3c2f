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

TEST(ExtractJsonObject, BalancesBracesLiterally) {
  EXPECT_EQ(ExtractJsonObject(R"({"data":{"t":"}"},"x":1})", "\"data\""), R"({"t":"})");
  EXPECT_EQ(ExtractJsonObject(R"({"data":{"a":1)", "\"data\""), R"({"a":1)");
  EXPECT_EQ(ExtractJsonObject(R"({"data":null,"x":{"y":2}})", "\"data\""), R"({"y":2})");
  EXPECT_EQ(ExtractJsonObject(R"({"data":null})", "\"data\""), "");
  EXPECT_EQ(ExtractJsonObject(R"({"x":1})", "\"data\""), "");
  EXPECT_EQ(ExtractJsonObject(R"({"d":{"a":{"b":{}}},"e":2})", "\"d\""), R"({"a":{"b":{}}})");
}

TEST(ExtractJsonArray, ReportsMarkerSeparately) {
  bool found = false;
  EXPECT_EQ(ExtractJsonArray(R"({"voice_states":[{"a":[1]},{}]})", "\"voice_states\"", &found), R"([{"a":[1]},{}])");
  EXPECT_TRUE(found);
  EXPECT_EQ(ExtractJsonArray(R"({"voice_states":null})", "\"voice_states\"", &found), "");
  EXPECT_TRUE(found);
  EXPECT_EQ(ExtractJsonArray(R"({"x":[]})", "\"voice_states\"", &found), "");
  EXPECT_FALSE(found);
}

TEST(NextJsonObject, WalksElementsInOrder) {
  std::string array = R"([{"a":{"n":1}}, 5, "s", {"b":2}])";
  auto first = NextJsonObject(array, 0);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->object, R"({"a":{"n":1}})");
  auto second = NextJsonObject(array, first->next);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->object, R"({"b":2})");
  EXPECT_FALSE(NextJsonObject(array, second->next));
  EXPECT_FALSE(NextJsonObject("", 0));
  EXPECT_FALSE(NextJsonObject("{}", 10));
}

TEST(ContainsText, ExactFragments) {
  EXPECT_TRUE(ContainsText(R"({"self_mute":true})", R"("self_mute":true)"));
  EXPECT_FALSE(ContainsText(R"({"self_mute":true})", R"("mute":true)"));
  EXPECT_FALSE(ContainsText(R"({"mute": true})", R"("mute":true)"));
  EXPECT_TRUE(ContainsText("xSPEAKING_START", "SPEAKING"));
}

TEST(ExtractJsonKeyValue, SkipsOccurrencesThatAreValues) {
  EXPECT_EQ(ExtractJsonKeyValue(R"({"name":"code","type":2})", "code"), "");
  EXPECT_EQ(ExtractJsonKeyValue(R"({"name":"code","data":{"code":4006}})", "code"), "4006");
  EXPECT_EQ(ExtractJsonKeyValue(R"({"code" : 5})", "code"), "5");
  EXPECT_EQ(ExtractJsonKeyValue(R"({"code":"x"})", "code"), "x");
  EXPECT_EQ(ExtractJsonKeyValue(R"({"codex":1})", "code"), "");
  EXPECT_EQ(ExtractJsonKeyValue(R"("code")", "code"), "");
}

TEST(LooksLikeJsonObject, OuterBracesOnly) {
  EXPECT_TRUE(LooksLikeJsonObject(R"({"cmd":"DISPATCH","data":{"content":"}{"}})"));
  EXPECT_TRUE(LooksLikeJsonObject(" \r\n{}\n"));
  for (const char* text : {"", "   ", "{", "}", "this is not json", "[{}]", "{\"a\":1", "<html></html>", "{} x"})
    EXPECT_FALSE(LooksLikeJsonObject(text)) << text;
}
