#include <gtest/gtest.h>

#include "rpc/json_scan.h"

TEST(ExtractJsonValue, MatchingRules) {
  const char* const cases[][3] = {  // text, key, value
      {R"({"evt":null})", "evt", ""},
      {R"({"code": 4006})", "code", "4006"},
      {R"({"code":-1})", "code", ""},
      {"{\"code\":\n4006}", "code", ""},
      {R"({"x":"a\"b"})", "x", R"(a\"b)"},
      {R"({"name":"\u00e9"})", "name", R"(\u00e9)"},
      {R"({"p":"a\\"})", "p", R"(a\\)"},
      {R"({"bot":true ,"x":1})", "bot", "true "},
      {R"({"b":[true]})", "b", ""},
      {R"({"a":{"id":"1"},"id":"2"})", "id", "1"},
      {R"({"s":"open)", "s", "open"},
      {R"({"s":"ends\)", "s", R"(ends\)"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractJsonValue(c[0], c[1]), c[2]) << c[0];
}
