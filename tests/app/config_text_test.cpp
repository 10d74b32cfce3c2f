#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "app/config.h"
#include "app/json.h"
#include "app/settings_store.h"

namespace {

Config Load(const std::string& text) {
  Config c;
  ApplyConfigText(c, text);
  return c;
}

// A hand-edited file that is no longer JSON: every key whose own value reads
// is taken, the rest keep their defaults, and the parser says what broke.
TEST(ApplyConfigText, DamagedFileGivesWhatCanBeRead) {
  const Config d;
  const std::pair<std::string, std::function<bool(const Config&)>> rows[] = {
      {"{\"avatar_size\": 64 \"margin\": 7, \"show_names\": TRUE, \"monitor\": 2,}",  // missing comma, TRUE
       [&](const Config& c) { return c.avatar_size == 64 && c.margin == 7 && c.show_names == d.show_names && c.monitor == 2; }},
      {"{\"pip_window_title\": \"A \\\"B\\\"\", \"overlay_x\": 5, \"x\": }",  // escapes still decoded
       [](const Config& c) { return c.pip_window_title == L"A \"B\"" && c.overlay_x == 5; }},
      {"{\"overlay_y\": \"unterminated, \"margin\": 9", [&](const Config& c) { return c.overlay_y == d.overlay_y && c.margin == 9; }},
      // The reason goes to debug.log: it never quotes the file (here a secret).
      {"{\"margin\": 9, \"client_secret\": \"TopSecret42", [](const Config& c) { return c.margin == 9; }},
  };
  for (const auto& [text, holds] : rows) {
    Config c;
    const std::string problem = ApplyConfigText(c, text);
    EXPECT_FALSE(problem.empty()) << text;
    EXPECT_EQ(problem.find("TopSecret42"), std::string::npos) << problem;
    EXPECT_TRUE(holds(c)) << text;
  }
  Config c;
  EXPECT_EQ(ApplyConfigText(c, " \n"), "");  // an empty file is a file without keys
}

// Each row: a file text and what must be true of the record loaded from it.
TEST(ApplyConfigText, ValuesClampsAndDefaults) {
  const Config d;
  const std::pair<std::string, std::function<bool(const Config&)>> rows[] = {
      {R"({"unknown": 5})", [&](const Config& c) { return FormatConfigText(c) == FormatConfigText(d); }},
      // Hand-written forms: a quoted number, a fraction, unusable values of every kind keep the field.
      {R"({"avatar_size": "64", "margin": 4.5, "monitor": 99999999999, "overlay_x": "4x", "show_names": 0,
           "inactive_opacity": "nan", "pip_opacity": 1e300, "language": 5, "client_secret": true})",
       [&](const Config& c) {
         return c.avatar_size == 64 && c.margin == 4 && c.monitor == d.monitor && c.overlay_x == d.overlay_x &&
                c.show_names && c.inactive_opacity == d.inactive_opacity && c.pip_opacity == d.pip_opacity &&
                c.language.empty() && c.client_secret == d.client_secret;
       }},
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
      // A port below 1024 (or none at all) is no place for the browser source.
      {R"({"browser_source_port": 80, "browser_source_enabled": false})",
       [](const Config& c) { return c.browser_source_port == 1024 && !c.browser_source_enabled; }},
      {R"({"browser_source_port": 70000})", [](const Config& c) { return c.browser_source_port == 65535; }},
      {R"({"client_id": 123, "pip_window_title": "画面共有", "language": "ja"})",
       [](const Config& c) { return c.client_id == L"123" && c.pip_window_title == L"画面共有" && c.language == "ja"; }},
      {R"({"client_id": "", "x": 1})", [&](const Config& c) { return c.client_id == d.client_id; }},
      {R"({"client_id": "\u00001"})", [&](const Config& c) { return c.client_id == d.client_id; }},
      // A key's name inside another value is text, not that key.
      {R"({"pip_window_title": "\"avatar_size\": 9", "avatar_size": 50})",
       [](const Config& c) { return c.avatar_size == 50 && c.pip_window_title == L"\"avatar_size\": 9"; }},
      {R"({"hidden_users": "12 , ,34"})",
       [](const Config& c) { return IdListContains(c.hidden_users, L"12") && IdListContains(c.hidden_users, L"34"); }},
  };
  for (const auto& [text, holds] : rows) {
    Config c;
    EXPECT_EQ(ApplyConfigText(c, text), "") << text;
    EXPECT_TRUE(holds(c)) << text;
  }
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
  c.allow_multi_instance = c.pip_enabled = c.show_only_speaking = c.start_with_windows = true;
  c.always_show_self = c.show_avatars = false;
  c.hidden_users = L"100000000000000002,100000000000000005";
  c.max_name_length = 12;
  c.language = "ja";
  c.notification_duration = 8000;
  c.client_secret = L"handset";
  c.pip_window_title = L"My \"Game\" \\ view \u753b\n";
  std::string text = FormatConfigText(c);
  EXPECT_TRUE(ParseJson(text)) << text;
  Config back = Load(text);
  EXPECT_EQ(FormatConfigText(back), text);
  EXPECT_FLOAT_EQ(back.inactive_opacity, 0.123457f);
}

TEST(HiddenUsers, ToggleAddsAndRemovesWholeIds) {
  EXPECT_EQ(ToggleIdInList(L"7, 77", L"7"), L"77");
  EXPECT_EQ(ToggleIdInList(L"77", L"7"), L"77,7");
  EXPECT_FALSE(IdListContains(L"77,777", L"7"));
}

// The draft lays only its own fields over the committed settings: a tray
// toggle meanwhile shows at once, a refused save leaves both as they were,
// and closing the draft puts back what is committed. Every change signals.
TEST(SettingsStore, DraftLaysItsFieldsOverTheCommittedOnes) {
  SettingsStore store;
  int signals = 0;
  store.onChanged = [&signals] { ++signals; };
  store.BeginDraft([](const Config& draft, Config& onto) { onto.avatar_size = draft.avatar_size; });
  store.EditDraft([](Config& draft) {
    draft.avatar_size = 96;
    draft.hidden_users = L"not the window's";
  });
  store.Change([](Config& committed) { committed.hidden_users = L"7"; });
  EXPECT_EQ(store.Effective().avatar_size, 96);
  EXPECT_EQ(store.Effective().hidden_users, L"7");
  EXPECT_EQ(store.Committed().avatar_size, Config().avatar_size);

  EXPECT_FALSE(store.CommitDraft([](const Config&) { return false; }));  // the disk is full
  EXPECT_EQ(store.Committed().avatar_size, Config().avatar_size);
  EXPECT_EQ(store.Effective().avatar_size, 96);

  std::string written;
  EXPECT_TRUE(store.CommitDraft([&written](const Config& next) {
    written = FormatConfigText(next);
    return true;
  }));
  EXPECT_EQ(written, FormatConfigText(store.Committed()));
  EXPECT_EQ(store.Committed().avatar_size, 96);
  EXPECT_EQ(store.Committed().hidden_users, L"7");

  store.BeginDraft([](const Config& draft, Config& onto) { onto.avatar_size = draft.avatar_size; });
  store.EditDraft([](Config& draft) { draft.avatar_size = 24; });
  store.EndDraft();
  EXPECT_FALSE(store.Drafting());
  EXPECT_EQ(store.Effective().avatar_size, 96);
  EXPECT_EQ(signals, 5);  // an edit, a change, a commit, an edit, the end
}

}  // namespace
