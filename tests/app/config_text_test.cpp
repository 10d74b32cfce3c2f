#include <gtest/gtest.h>

#include "app/config.h"

namespace {

Config Load(const std::string& text) {
  Config c;
  ApplyConfigText(c, text);
  return c;
}

TEST(FindConfigValue, QuotingAndTerminators) {
  struct Case {
    const char* text;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {R"({"avatar_size": "64"})", "avatar_size", "64"},
      {R"({"client_id": 123,})", "client_id", "123"},
      {"{\"pip_enabled\": true \t\r\n}", "pip_enabled", "true"},  // a hand-written last value
      {"{\"x\": \"a \t\"}", "x", "a \t"},                      // quoted: kept as written
      {R"({"x":   "  lead"})", "x", "lead\""},              // a space inside the quotes unquotes it
      {"{\"x\":\t1}", "x", "\t1"},                            // tabs are not passed over
      {R"({"x" 5})", "x", ""},                                // no colon
      {R"({"y": 1})", "x", ""},                               // no key
      {R"({"x": 7)", "x", "7"},                               // runs to the end
      {R"({"language": ""})", "language", ""},                // empty quoted value
      {R"({"o": {"x": 1}, "x": 9})", "x", "1"},              // first occurrence wins, nested or not
  };
  for (const Case& c : cases) EXPECT_EQ(FindConfigValue(c.text, c.key), c.expected) << c.text;
}

TEST(ReadConfig, TypedReadersFallBack) {
  EXPECT_EQ(ReadConfigInt(R"({"n": 48abc})", "n", 1), 48);
  EXPECT_EQ(ReadConfigInt(R"({"n": 4.5})", "n", 1), 4);
  EXPECT_EQ(ReadConfigInt(R"({"n": abc})", "n", 7), 7);
  EXPECT_EQ(ReadConfigInt(R"({"n": 99999999999})", "n", 7), 7);
  EXPECT_EQ(ReadConfigInt(R"({"n": -12})", "n", 7), -12);
  EXPECT_FLOAT_EQ(ReadConfigFloat(R"({"f": "0.25"})", "f", 1.0f), 0.25f);
  EXPECT_FLOAT_EQ(ReadConfigFloat(R"({"f": x})", "f", 0.5f), 0.5f);
  EXPECT_FLOAT_EQ(ReadConfigFloat(R"({"f": nan})", "f", 0.5f), 0.5f);
  EXPECT_FLOAT_EQ(ReadConfigFloat(R"({"f": -inf})", "f", 0.5f), 0.5f);
  EXPECT_TRUE(ReadConfigBool(R"({"b": TRUE})", "b", true));
  EXPECT_FALSE(ReadConfigBool(R"({"b": TRUE})", "b", false));
  EXPECT_FALSE(ReadConfigBool(R"({"b": false,})", "b", true));
  EXPECT_TRUE(ReadConfigBool(R"({"b": 0})", "b", true));
}

TEST(ApplyConfigText, EmptyOrUnknownTextKeepsDefaults) {
  Config defaults;
  Config loaded = Load("");
  EXPECT_EQ(FormatConfigText(loaded), FormatConfigText(defaults));
  loaded = Load(R"({"unknown": 5})");
  EXPECT_EQ(FormatConfigText(loaded), FormatConfigText(defaults));
}

TEST(ApplyConfigText, ClampsAndReplacements) {
  EXPECT_EQ(Load(R"({"username_font_size": 30})").username_font_size, 24);
  EXPECT_EQ(Load(R"({"username_font_size": 3})").username_font_size, 8);
  EXPECT_EQ(Load(R"({"notification_font_size": 99})").notification_font_size, 24);
  EXPECT_FLOAT_EQ(Load(R"({"username_label_opacity": 1.5})").username_label_opacity, 1.0f);
  EXPECT_FLOAT_EQ(Load(R"({"username_label_opacity": -0.2})").username_label_opacity, 0.0f);
  EXPECT_FLOAT_EQ(Load(R"({"inactive_opacity": 1.5})").inactive_opacity, 1.5f);
  EXPECT_EQ(Load(R"({"notification_position": 6})").notification_position, 0);
  EXPECT_EQ(Load(R"({"notification_position": -1})").notification_position, 0);
  EXPECT_EQ(Load(R"({"notification_position": 5})").notification_position, 5);
}

TEST(ApplyConfigText, ColourComponentsKeepLowBytes) {
  Config c = Load(R"({"speaking_color_r": 256, "muted_color_g": 300, "deafened_color_b": -1})");
  EXPECT_EQ(ColorRed(c.speaking_color), 0);
  EXPECT_EQ(ColorGreen(c.speaking_color), 181);
  EXPECT_EQ(ColorBlue(c.speaking_color), 129);
  EXPECT_EQ(ColorGreen(c.muted_color), 44);
  EXPECT_EQ(ColorBlue(c.deafened_color), 255);
}

TEST(ApplyConfigText, StringsAndLanguage) {
  Config c = Load(R"({"client_id": 123, "pip_window_title": "Go Live", "language": "ja"})");
  EXPECT_EQ(c.client_id, L"123");
  EXPECT_EQ(c.pip_window_title, L"Go Live");
  EXPECT_EQ(c.language, "ja");
  // An empty value leaves a wide-string field at its default.
  EXPECT_EQ(Load(R"({"client_id": "", "x": 1})").client_id, Config().client_id);
  EXPECT_EQ(Load(std::string("{\"client_id\":") + '\0' + "1}").client_id, Config().client_id);
  EXPECT_EQ(Load(R"({"pip_window_title": "画面共有"})").pip_window_title, L"画面共有");
}

TEST(FormatConfigText, DefaultsInFileOrder) {
  const std::wstring id = Config().client_id;
  std::string expected = "{\n  \"client_id\": \"" + std::string(id.begin(), id.end()) + "\",\n";
  const char* lines[] = {"show_avatars\": true",    "show_names\": true",   "avatar_size\": 48",
                         "margin\": 20",             "monitor\": 0",         "overlay_x\": 20",
                         "overlay_y\": 20",          "inactive_opacity\": 0.4", "username_label_opacity\": 1",
                         "speaking_color_r\": 67",   "speaking_color_g\": 181", "speaking_color_b\": 129",
                         "muted_color_r\": 237",     "muted_color_g\": 66",  "muted_color_b\": 69",
                         "deafened_color_r\": 250",  "deafened_color_g\": 166", "deafened_color_b\": 26",
                         "border_color_r\": 255",    "border_color_g\": 255", "border_color_b\": 255",
                         "notification_position\": 0", "allow_multi_instance\": false",
                         "username_font_size\": 12", "notification_font_size\": 12", "pip_enabled\": false",
                         "pip_x\": 50",              "pip_y\": 50",          "pip_width\": 320",
                         "pip_height\": 180",        "pip_opacity\": 0.9"};
  for (const char* line : lines) expected += std::string("  \"") + line + ",\n";
  expected += "  \"language\": \"\"\n}\n";
  EXPECT_EQ(FormatConfigText(Config()), expected);
}

TEST(FormatConfigText, FloatsAsShortestG) {
  Config c;
  c.inactive_opacity = 0.00001f;
  c.pip_opacity = 1000000.0f;
  c.username_label_opacity = 0.75f;
  std::string text = FormatConfigText(c);
  EXPECT_NE(text.find("\"inactive_opacity\": 1e-05,"), std::string::npos);
  EXPECT_NE(text.find("\"pip_opacity\": 1e+06,"), std::string::npos);
  EXPECT_NE(text.find("\"username_label_opacity\": 0.75,"), std::string::npos);
}

TEST(FormatConfigText, RoundTripKeepsEveryFieldAndHandSetKeys) {
  Config c;
  c.client_id = L"42";
  c.show_avatars = false;
  c.avatar_size = 64;
  c.monitor = -1;
  c.overlay_x = -300;
  c.inactive_opacity = 0.123456789f;
  c.speaking_color = MakeConfigColor(1, 2, 3);
  c.notification_position = 4;
  c.allow_multi_instance = true;
  c.pip_enabled = true;
  c.pip_height = 99;
  c.language = "ja";
  c.notification_duration = 8000;
  c.client_secret = L"handset";
  c.pip_window_title = L"Screen";
  std::string text = FormatConfigText(c);
  EXPECT_EQ(text.substr(text.size() - 21), "  \"language\": \"ja\"\n}\n");
  Config back = Load(text);
  EXPECT_EQ(FormatConfigText(back), text);
  EXPECT_EQ(back.notification_duration, 8000);
  EXPECT_EQ(back.client_secret, L"handset");
  EXPECT_EQ(back.pip_window_title, L"Screen");
  EXPECT_FLOAT_EQ(back.inactive_opacity, 0.123457f);
}

TEST(FormatConfigText, UnchangedHiddenKeysAreNotWritten) {
  std::string text = FormatConfigText(Config());
  EXPECT_EQ(text.find("client_secret"), std::string::npos);
  EXPECT_EQ(text.find("notification_duration"), std::string::npos);
}

}  // namespace
