#include <gtest/gtest.h>

#include "app/json.h"

namespace {

TEST(Json, ParsesOrSaysWhy) {
  const std::pair<const char*, bool> cases[] = {
      {R"({"a":[1,{"b":"x]}"}]})", true},    // brackets inside strings are text
      {R"({"a":1,})", false},                // trailing comma
      {"{\"a\":\"\xff\"}", false},           // not UTF-8
      {R"({"a":"\ud83d"})", false},          // half a surrogate pair
      {"", false},
  };
  for (const auto& [text, parses] : cases) {
    std::string error;
    auto value = ParseJson(text, &error);
    EXPECT_EQ(value.has_value(), parses) << text;
    EXPECT_EQ(error.empty(), parses) << text << ": " << error;
  }
}

TEST(Json, DecodesEscapesAndWritesThemBack) {
  auto value = ParseJson(R"({"n":"Ann \"the tank\" \\ \u00e9\ud83d\udd25"})");
  ASSERT_TRUE(value);
  EXPECT_EQ(JsonString(*value, "n"), "Ann \"the tank\" \\ \xc3\xa9\xf0\x9f\x94\xa5");
  EXPECT_EQ(ParseJson(FormatJson(*value)), value);
  // Bytes that are no UTF-8 are replaced, not thrown.
  EXPECT_EQ(FormatJson(Json{{"s", std::string("a\xff")}}), "{\"s\":\"a\xef\xbf\xbd\"}");
}

TEST(Json, TypedMembersFallBack) {
  auto value = ParseJson(R"({"s":"7","i":-3,"u":18446744073709551615,"f":2.5,"b":true,"z":null})");
  ASSERT_TRUE(value);
  EXPECT_EQ(JsonString(*value, "s"), "7");
  EXPECT_EQ(JsonString(*value, "i", "fb"), "fb");
  EXPECT_EQ(JsonInt(*value, "i", 0), -3);
  EXPECT_EQ(JsonInt(*value, "u", 9), 9);  // beyond int64
  EXPECT_EQ(JsonInt(*value, "f", 9), 9);
  EXPECT_EQ(JsonInt(*value, "s", 9), 9);
  EXPECT_TRUE(JsonBool(*value, "b", false));
  EXPECT_TRUE(JsonBool(*value, "z", true));
  EXPECT_EQ(JsonMember(*value, "missing"), nullptr);
  EXPECT_EQ(JsonMember(Json::array({1}), "s"), nullptr);  // not an object
}

}  // namespace
