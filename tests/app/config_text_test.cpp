#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "app/config.h"

namespace {

Config Load(const std::string& text) {
  Config c;
  ApplyConfigText(c, text);
  return c;
}

TEST(FindConfigValue, QuotingAndTerminators) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"x": "64"})", "64"},
      {R"({"x": 123,})", "123"},
      {"{\"x\": true \t\r\n}", "true"},   // a hand-written last value
      {"{\"x\": \"a \t\"}", "a \t"},       // quoted: kept as written
      {R"({"x":   "  lead"})", "lead\""},  // a space inside the quotes unquotes it
      {"{\"x\":\t1}", "\t1"},               // tabs are not passed over
      {R"({"o": {"x": 1}, "x": 9})", "1"},  // first occurrence wins, nested or not
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(FindConfigValue(text, "x"), expected) << text;
}

TEST(ReadConfig, TypedReadersFallBack) {
  const std::pair<const char*, int32_t> ints[] = {{"48abc", 48}, {"4.5", 4}, {"abc", 7}, {"99999999999", 7}, {"-12", -12}};
  for (const auto& [value, expected] : ints)
    EXPECT_EQ(ReadConfigInt(std::string("{\"n\": ") + value + "}", "n", 7), expected) << value;
  for (const char* value : {"x", "nan", "-inf"})
    EXPECT_FLOAT_EQ(ReadConfigFloat(std::string("{\"f\": ") + value + "}", "f", 0.5f), 0.5f) << value;
  const std::tuple<const char*, bool, bool> bools[] = {
      {"TRUE}", true, true}, {"TRUE}", false, false}, {"false,}", true, false}, {"0}", true, true},
      {"false \t\r\n}", true, false}};  // a hand-written last value
  for (const auto& [value, fallback, expected] : bools)
    EXPECT_EQ(ReadConfigBool(std::string("{\"b\": ") + value, "b", fallback), expected) << value;
}

// Each row: a file text and what must be true of the record loaded from it.
TEST(ApplyConfigText, ValuesClampsAndDefaults) {
  const Config d;
  const std::pair<std::string, std::function<bool(const Config&)>> rows[] = {
      {R"({"unknown": 5})", [&](const Config& c) { return FormatConfigText(c) == FormatConfigText(d); }},
      {R"({"username_font_size": 30, "notification_font_size": 3, "username_label_opacity": 1.5,
           "inactive_opacity": 1.5, "notification_position": -1, "max_name_length": 2, "speaking_color_r": 256,
           "muted_color_g": 300, "deafened_color_b": -1})",
       [](const Config& c) {
         return c.username_font_size == 24 && c.notification_font_size == 8 && c.username_label_opacity == 1.0f &&
                c.inactive_opacity == 1.5f && c.notification_position == 0 && c.max_name_length == 4 &&
                c.speaking_color == MakeConfigColor(0, 181, 129) && ColorGreen(c.muted_color) == 44 &&
                ColorBlue(c.deafened_color) == 255;
       }},
      {R"({"max_name_length": 100, "notification_position": 6, "username_label_opacity": -0.2})", [](const Config& c) {
         return c.max_name_length == 64 && c.notification_position == 0 && c.username_label_opacity == 0.0f;
       }},
      {R"({"client_id": 123, "pip_window_title": "画面共有", "language": "ja"})",
       [](const Config& c) { return c.client_id == L"123" && c.pip_window_title == L"画面共有" && c.language == "ja"; }},
      {R"({"client_id": "", "x": 1})", [&](const Config& c) { return c.client_id == d.client_id; }},
      {std::string("{\"client_id\":\0" "1}", 16), [&](const Config& c) { return c.client_id == d.client_id; }},
      {R"({"hidden_users": "12 , ,34"})",
       [](const Config& c) { return IdListContains(c.hidden_users, L"12") && IdListContains(c.hidden_users, L"34"); }},
  };
  for (const auto& [text, holds] : rows) EXPECT_TRUE(holds(Load(text))) << text;
}

TEST(FormatConfigText, RoundTripsEveryWrittenFieldAndHandSetKeys) {
  Config c;
  EXPECT_EQ(FormatConfigText(c).find("client_secret"), std::string::npos);  // unchanged hidden keys stay out
  c.client_id = L"42";
  c.overlay_x = -300;
  c.inactive_opacity = 0.123456789f;
  c.pip_opacity = 1000000.0f;
  c.username_label_opacity = 0.00001f;
  c.speaking_color = MakeConfigColor(1, 2, 3);
  c.notification_position = 4;
  c.allow_multi_instance = c.pip_enabled = c.show_only_speaking = true;
  c.always_show_self = c.show_avatars = false;
  c.hidden_users = L"100000000000000002,100000000000000005";
  c.max_name_length = 12;
  c.language = "ja";
  c.notification_duration = 8000;
  c.client_secret = L"handset";
  c.pip_window_title = L"Screen";
  std::string text = FormatConfigText(c);
  Config back = Load(text);
  EXPECT_EQ(FormatConfigText(back), text);
  EXPECT_FLOAT_EQ(back.inactive_opacity, 0.123457f);
}

TEST(HiddenUsers, ToggleAddsAndRemovesWholeIds) {
  EXPECT_EQ(ToggleIdInList(L"7, 77", L"7"), L"77");
  EXPECT_EQ(ToggleIdInList(L"77", L"7"), L"77,7");
  EXPECT_FALSE(IdListContains(L"77,777", L"7"));
}

}  // namespace
