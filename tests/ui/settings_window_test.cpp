// The settings window driven as a user drives it: keys on the sliders,
// clicks on buttons and check boxes, the colour chooser answered from a
// second thread. Needs a display.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app/config.h"
#include "app/text.h"
#include "tests/support/message_box_probe.h"
#include "ui/settings_window.h"

namespace {

std::wstring TempFile(const std::wstring& name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return std::wstring(temp) + name + L"_" + std::to_wstring(GetCurrentProcessId());
}

class SettingsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_config = Config();
    g_language = 0;
    path_ = TempFile(L"voxmere_settings.json");
    DeleteFileW(path_.c_str());
  }
  void TearDown() override {
    if (GetSettingsWindow()) DestroyWindow(GetSettingsWindow());
    DeleteFileW(path_.c_str());
  }

  HWND Open() {
    ShowSettingsWindow(nullptr, path_);
    window_ = GetSettingsWindow();
    return window_;
  }
  HWND Item(int id) const { return GetDlgItem(window_, id); }
  std::wstring ItemText(int id) const {
    wchar_t text[64] = {};
    GetDlgItemTextW(window_, id, text, 64);
    return text;
  }
  int Position(int id) const { return static_cast<int>(SendMessageW(Item(id), TBM_GETPOS, 0, 0)); }
  int Selection(int id) const { return static_cast<int>(SendMessageW(Item(id), CB_GETCURSEL, 0, 0)); }
  void Key(int id, WPARAM key) const {
    SendMessageW(Item(id), WM_KEYDOWN, key, 0);
    SendMessageW(Item(id), WM_KEYUP, key, 0);
  }
  void Click(int id) const { SendMessageW(Item(id), BM_CLICK, 0, 0); }
  bool Saved() const { return GetFileAttributesW(path_.c_str()) != INVALID_FILE_ATTRIBUTES; }
  // Without the carriage returns that text mode writes.
  std::string SavedText() const {
    std::ifstream in(path_.c_str(), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string lf;
    for (char c : text)
      if (c != '\r') lf += c;
    return lf;
  }
  Config SavedConfig() const {
    Config saved;
    ApplyConfigText(saved, SavedText());
    return saved;
  }

  std::wstring path_;
  HWND window_ = nullptr;
};

TEST_F(SettingsWindowTest, SlidersShowTheStoredValueAndSaveTheirPosition) {
  struct Row {
    float opacity;
    const wchar_t* opacityLabel;
    int opacitySlider;
    float savedOpacity;
    int fontSize;
    const wchar_t* fontLabel;
    int fontSlider;
  };
  // 0.29f times 100 lies just below 29 and is truncated; stored values
  // outside a range leave the slider at its end, and Save keeps the slider.
  const Row rows[] = {
      {0.4f, L"40%", 40, 0.4f, 12, L"12pt", 12},
      {0.29f, L"28%", 28, 0.28f, 24, L"24pt", 24},
      {1.5f, L"150%", 100, 1.0f, 30, L"30pt", 24},
      {-0.2f, L"-20%", 0, 0.0f, 5, L"5pt", 8},
      {1e30f, L"1000000%", 100, 1.0f, 12, L"12pt", 12},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.opacityLabel);
    g_config = Config();
    g_config.inactive_opacity = g_config.username_label_opacity = row.opacity;
    g_config.username_font_size = g_config.notification_font_size = row.fontSize;
    ASSERT_NE(Open(), nullptr);
    for (int label : {kIdInactiveOpacityValue, kIdLabelOpacityValue}) EXPECT_EQ(ItemText(label), row.opacityLabel);
    for (int label : {kIdUsernameFontSizeValue, kIdNotificationFontSizeValue}) EXPECT_EQ(ItemText(label), row.fontLabel);
    for (int slider : {kIdInactiveOpacity, kIdLabelOpacity}) EXPECT_EQ(Position(slider), row.opacitySlider);
    for (int slider : {kIdUsernameFontSize, kIdNotificationFontSize}) EXPECT_EQ(Position(slider), row.fontSlider);
    Click(kIdSave);
    EXPECT_EQ(GetSettingsWindow(), nullptr);
    Config saved = SavedConfig();
    EXPECT_FLOAT_EQ(saved.inactive_opacity, row.savedOpacity);
    EXPECT_FLOAT_EQ(saved.username_label_opacity, row.savedOpacity);
    EXPECT_EQ(saved.username_font_size, row.fontSlider);
    EXPECT_EQ(saved.notification_font_size, row.fontSlider);
  }
}

TEST_F(SettingsWindowTest, SliderMovesActAtOnceAndCancelKeepsThemUnsaved) {
  ASSERT_NE(Open(), nullptr);
  Key(kIdInactiveOpacity, VK_RIGHT);
  EXPECT_FLOAT_EQ(g_config.inactive_opacity, 0.41f);
  EXPECT_EQ(ItemText(kIdInactiveOpacityValue), L"41%");
  Key(kIdUsernameFontSize, VK_END);
  EXPECT_EQ(g_config.username_font_size, 24);
  EXPECT_EQ(ItemText(kIdUsernameFontSizeValue), L"24pt");

  Click(kIdCancel);
  EXPECT_EQ(GetSettingsWindow(), nullptr);
  EXPECT_FALSE(Saved());
  EXPECT_FLOAT_EQ(g_config.inactive_opacity, 0.41f);
  EXPECT_EQ(g_config.username_font_size, 24);
}

TEST_F(SettingsWindowTest, SaveWritesTheWholeRecordWithTheOtherControls) {
  g_config.client_secret = L"kept-secret";
  g_config.pip_window_title = L"Stream";
  ASSERT_NE(Open(), nullptr);
  SendMessageW(Item(kIdNotificationPosition), CB_SETCURSEL, 5, 0);
  SendMessageW(Item(kIdLanguage), CB_SETCURSEL, 2, 0);
  for (int box : {kIdPipEnabled, kIdAllowMultiInstance, kIdShowOnlySpeaking, kIdAlwaysShowSelf}) Click(box);
  for (int step = 0; step < 9; ++step) Key(kIdMaxNameLength, VK_RIGHT);  // from "None" to 12
  EXPECT_EQ(ItemText(kIdMaxNameLengthValue), L"12");
  // Combo boxes and check boxes reach the record only through Save.
  EXPECT_EQ(g_config.notification_position, 0);
  EXPECT_FALSE(g_config.pip_enabled);

  Config expected = g_config;
  expected.notification_position = 5;
  expected.language = "ja";
  expected.pip_enabled = true;
  expected.allow_multi_instance = true;
  expected.show_only_speaking = true;
  expected.always_show_self = false;
  Click(kIdSave);
  EXPECT_EQ(GetSettingsWindow(), nullptr);
  EXPECT_EQ(SavedText(), FormatConfigText(expected));
  EXPECT_EQ(FormatConfigText(g_config), FormatConfigText(expected));
}

TEST_F(SettingsWindowTest, LanguageItemFollowsTheStoredCodeAndAutoSavesEmpty) {
  const std::pair<const char*, int> rows[] = {{"ja", 2}, {"en", 1}, {"", 0}, {"JA", 0}};
  for (const auto& [language, item] : rows) {
    SCOPED_TRACE(language);
    g_config.language = language;
    ASSERT_NE(Open(), nullptr);
    EXPECT_EQ(Selection(kIdLanguage), item);
    Click(kIdCancel);
  }
  g_config.language = "ja";
  ASSERT_NE(Open(), nullptr);
  SendMessageW(Item(kIdLanguage), CB_SETCURSEL, 0, 0);
  Click(kIdSave);
  EXPECT_EQ(g_config.language, "");
  EXPECT_NE(SavedText().find("\"language\": \"\""), std::string::npos) << SavedText();
}

// Answers the colour chooser: types the red, green and blue values into its
// fields (ids of the standard template) and presses OK, or presses Cancel.
class ChooserAnswer {
 public:
  ChooserAnswer(int red, int green, int blue, int button)
      : thread_([=] {
          MessageBoxProbe chooser = WaitForMessageBox(GetCurrentProcessId(), 10000);
          if (!chooser.box) return;
          const int fields[][2] = {{706, red}, {707, green}, {708, blue}};
          for (const auto& field : fields) SetDlgItemInt(chooser.box, field[0], field[1], FALSE);
          found_ = PressMessageBoxButton(chooser.box, button);
        }) {}
  ~ChooserAnswer() { Answered(); }
  bool Answered() {
    if (thread_.joinable()) thread_.join();
    return found_;
  }

 private:
  std::atomic<bool> found_{false};
  std::thread thread_;
};

TEST_F(SettingsWindowTest, ColourChooserStoresAtOnceAndCancelChangesNothing) {
  ASSERT_NE(Open(), nullptr);
  const ConfigColor original = g_config.muted_color;
  ChooserAnswer cancel(1, 2, 3, IDCANCEL);
  Click(kIdMutedColor);
  ASSERT_TRUE(cancel.Answered());
  EXPECT_EQ(g_config.muted_color, original);
  ChooserAnswer ok(10, 200, 30, IDOK);
  Click(kIdSpeakingColor);
  ASSERT_TRUE(ok.Answered());
  EXPECT_EQ(g_config.speaking_color, MakeConfigColor(10, 200, 30));
  EXPECT_FALSE(Saved());
}

}  // namespace

// The window as the user meets it, in Japanese: its frame, every control
// inside the client area and none over another, the texts below today's
// controls from the table; the close box shuts it without saving.
TEST_F(SettingsWindowTest, LayoutInJapaneseAndTheCloseBoxSavesNothing) {
  g_language = 1;
  ASSERT_NE(Open(), nullptr);
  wchar_t title[64] = {};
  GetWindowTextW(window_, title, 64);
  EXPECT_STREQ(title, L"Voxmere 設定");
  EXPECT_EQ(GetWindowLongW(window_, GWL_STYLE) & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX),
            WS_CAPTION | WS_SYSMENU);
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
  EXPECT_EQ(placed.size(), 34u);
  EXPECT_EQ(ItemText(kIdShowOnlySpeaking), L"発言中のメンバーのみ表示");
  EXPECT_EQ(ItemText(kIdAlwaysShowSelf), L"自分を常に表示");
  EXPECT_EQ(ItemText(kIdMaxNameLengthValue), L"なし");

  SendMessageW(Item(1001), TBM_SETPOS, TRUE, 70);
  SendMessageW(window_, WM_CLOSE, 0, 0);
  EXPECT_EQ(GetSettingsWindow(), nullptr);
  EXPECT_FALSE(IsWindow(window_));
  EXPECT_FALSE(Saved());
}
