// The settings window driven as a user drives it: keys on the sliders,
// clicks on buttons and check boxes. Needs a display.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/config.h"
#include "app/text.h"
#include "ui/settings_window.h"

class SettingsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_config = Config();
    g_language = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"voxmere_settings_" + std::to_wstring(GetCurrentProcessId()) + L".json";
    DeleteFileW(path_.c_str());
  }
  void TearDown() override {
    if (GetSettingsWindow()) DestroyWindow(GetSettingsWindow());
    DeleteFileW(path_.c_str());
  }
  HWND Open() {
    ShowSettingsWindow(nullptr, path_);
    return window_ = GetSettingsWindow();
  }
  HWND Item(int id) const { return GetDlgItem(window_, id); }
  std::wstring ItemText(int id) const {
    wchar_t text[64] = {};
    GetDlgItemTextW(window_, id, text, 64);
    return text;
  }
  void Key(int id, WPARAM key) const {
    SendMessageW(Item(id), WM_KEYDOWN, key, 0);
    SendMessageW(Item(id), WM_KEYUP, key, 0);
  }
  void Click(int id) const { SendMessageW(Item(id), BM_CLICK, 0, 0); }
  // Without the carriage returns that text mode writes; empty when nothing was saved.
  std::string SavedText() const {
    std::ifstream in(path_.c_str(), std::ios::binary);
    std::string text;
    for (char c : std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()))
      if (c != '\r') text += c;
    return text;
  }

  std::wstring path_;
  HWND window_ = nullptr;
};

// A stored value outside a slider's range (a huge one once overflowed the
// conversion) leaves the slider at its end; what the controls change is
// shown at once and reaches the record only through Save.
TEST_F(SettingsWindowTest, StoredValuesShowAndSaveWritesEveryControl) {
  g_config.inactive_opacity = 1e30f;
  g_config.username_font_size = 30;
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(ItemText(kIdInactiveOpacityValue) + ItemText(kIdUsernameFontSizeValue), L"1000000%30pt");
  EXPECT_EQ(SendMessageW(Item(kIdInactiveOpacity), TBM_GETPOS, 0, 0), 100);
  Key(kIdInactiveOpacity, VK_LEFT);
  EXPECT_FLOAT_EQ(DrawnConfig().inactive_opacity, 0.99f);  // shown, not yet in force
  EXPECT_FLOAT_EQ(g_config.inactive_opacity, 1e30f);
  SendMessageW(Item(kIdNotificationPosition), CB_SETCURSEL, 5, 0);
  SendMessageW(Item(kIdLanguage), CB_SETCURSEL, 2, 0);
  for (int box : {kIdPipEnabled, kIdAllowMultiInstance, kIdShowOnlySpeaking, kIdAlwaysShowSelf, kIdShowAvatars,
                  kIdShowStreamMarks})
    Click(box);
  for (int step = 0; step < 9; ++step) Key(kIdMaxNameLength, VK_RIGHT);  // from "None" to 12
  EXPECT_EQ(ItemText(kIdMaxNameLengthValue), L"12");
  Config expected = DrawnConfig();
  expected.username_font_size = 24;
  expected.notification_position = 5;
  expected.language = "ja";
  expected.pip_enabled = expected.allow_multi_instance = expected.show_only_speaking = true;
  expected.always_show_self = expected.show_avatars = expected.show_stream_marks = false;
  Click(kIdSave);
  EXPECT_EQ(GetSettingsWindow(), nullptr);
  EXPECT_EQ(SavedText(), FormatConfigText(expected));
  EXPECT_EQ(FormatConfigText(g_config), FormatConfigText(expected));
}

// In Japanese the window grows to fit the new controls: every control
// inside the client area and none over another. What the controls change is
// in force at once (the overlay previews it); the close box saves nothing and
// puts back what was in force before.
TEST_F(SettingsWindowTest, LayoutInJapaneseAndTheCloseBoxSavesNothing) {
  g_language = 1;
  ASSERT_NE(Open(), nullptr);
  RECT client;
  GetClientRect(window_, &client);
  std::vector<std::pair<int, RECT>> placed;
  for (HWND child = GetWindow(window_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, window_, reinterpret_cast<POINT*>(&rect), 2);
    int id = GetDlgCtrlID(child);
    EXPECT_TRUE(rect.left >= 0 && rect.top >= 0 && rect.right <= client.right && rect.bottom <= client.bottom) << id;
    for (const auto& [other, seen] : placed) {
      RECT overlap;
      EXPECT_FALSE(IntersectRect(&overlap, &rect, &seen)) << id << " over " << other;
    }
    placed.push_back({id, rect});
  }
  EXPECT_EQ(placed.size(), 49u);
  EXPECT_EQ(ItemText(kIdShowOnlySpeaking) + ItemText(kIdMaxNameLengthValue), L"発言中のメンバーのみ表示なし");
  const Config before = g_config;
  Key(kIdUsernameFontSize, VK_RIGHT);
  Click(kIdShowAvatars);
  EXPECT_TRUE(DrawnConfig().username_font_size == before.username_font_size + 1 && !DrawnConfig().show_avatars);
  SendMessageW(window_, WM_CLOSE, 0, 0);
  EXPECT_EQ(SavedText(), "");
  EXPECT_EQ(FormatConfigText(g_config), FormatConfigText(before));
  EXPECT_EQ(FormatConfigText(DrawnConfig()), FormatConfigText(before));
}

