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
  Click(kIdPipEnabled);
  Click(kIdAllowMultiInstance);
  // Combo boxes and check boxes reach the record only through Save.
  EXPECT_EQ(g_config.notification_position, 0);
  EXPECT_FALSE(g_config.pip_enabled);

  Config expected = g_config;
  expected.notification_position = 5;
  expected.language = "ja";
  expected.pip_enabled = true;
  expected.allow_multi_instance = true;
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

// The window as the user meets it, in Japanese: frame, size, every control
// where the layout puts it with its class, id and text; the close box shuts
// it without saving.
TEST_F(SettingsWindowTest, LayoutInJapaneseAndTheCloseBoxSavesNothing) {
  g_language = 1;
  ASSERT_NE(Open(), nullptr);
  wchar_t title[64] = {};
  GetWindowTextW(window_, title, 64);
  EXPECT_STREQ(title, L"Voxmere 設定");
  EXPECT_EQ(GetWindowLongW(window_, GWL_STYLE) & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX),
            WS_CAPTION | WS_SYSMENU);
  EXPECT_TRUE(GetWindowLongW(window_, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
  RECT frame;
  GetWindowRect(window_, &frame);
  EXPECT_EQ(frame.right - frame.left, 420);
  EXPECT_EQ(frame.bottom - frame.top, 725);

  struct Expected {
    const wchar_t* className;
    int id, x, y, width, height;
    const wchar_t* text;  // nullptr: not checked
  };
  const Expected controls[] = {
      {L"Static", 0, 20, 20, 150, 20, L"非発言時の透明度:"},
      {TRACKBAR_CLASSW, 1001, 170, 20, 150, 30, nullptr},
      {L"Static", 1002, 330, 20, 50, 20, L"40%"},
      {L"Static", 0, 20, 65, 150, 20, L"ユーザー名ラベル透明度:"},
      {TRACKBAR_CLASSW, 1018, 170, 65, 150, 30, nullptr},
      {L"Static", 1019, 330, 65, 50, 20, L"100%"},
      {L"Static", 0, 20, 110, 170, 20, L"発言エフェクト色:"},
      {L"Button", 1003, 200, 108, 60, 24, nullptr},
      {L"Static", 0, 20, 140, 170, 20, L"マイクミュート色:"},
      {L"Button", 1004, 200, 138, 60, 24, nullptr},
      {L"Static", 0, 20, 170, 170, 20, L"スピーカーミュート色:"},
      {L"Button", 1005, 200, 168, 60, 24, nullptr},
      {L"Static", 0, 20, 200, 170, 20, L"通常枠色:"},
      {L"Button", 1006, 200, 198, 60, 24, nullptr},
      {L"Static", 0, 20, 235, 150, 20, L"ユーザー名フォント:"},
      {TRACKBAR_CLASSW, 1013, 170, 235, 130, 30, nullptr},
      {L"Static", 1014, 310, 235, 50, 20, L"12pt"},
      {L"Static", 0, 20, 275, 150, 20, L"通知フォント:"},
      {TRACKBAR_CLASSW, 1015, 170, 275, 130, 30, nullptr},
      {L"Static", 1016, 310, 275, 50, 20, L"12pt"},
      {L"Static", 0, 20, 317, 150, 20, L"通知表示位置:"},
      {L"ComboBox", 1010, 170, 315, 190, 0, nullptr},
      {L"Button", 1017, 20, 350, 300, 24, L"PiPを有効にする"},
      {L"Button", 1009, 20, 380, 250, 24, L"多重起動を許可"},
      {L"Static", 0, 20, 417, 150, 20, L"言語:"},
      {L"ComboBox", 1011, 170, 415, 190, 0, nullptr},
      {L"Static", 1012, 170, 443, 210, 20, L"言語の変更は再起動後に反映されます。"},
      {L"Button", 1007, 100, 478, 80, 30, L"保存"},
      {L"Button", 1008, 200, 478, 80, 30, L"キャンセル"},
  };
  HWND child = GetWindow(window_, GW_CHILD);
  for (const Expected& control : controls) {
    ASSERT_NE(child, nullptr) << "missing after " << control.id;
    wchar_t className[64] = {}, text[128] = {};
    GetClassNameW(child, className, 64);
    GetWindowTextW(child, text, 128);
    EXPECT_EQ(_wcsicmp(className, control.className), 0) << className << " for " << control.id;
    EXPECT_EQ(GetDlgCtrlID(child), control.id) << control.y;
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, window_, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, control.x) << control.id << " " << control.y;
    EXPECT_EQ(rect.top, control.y) << control.id;
    EXPECT_EQ(rect.right - rect.left, control.width) << control.id << " " << control.y;
    // A drop-down list's window is its closed height, whatever the list's.
    if (control.height) EXPECT_EQ(rect.bottom - rect.top, control.height) << control.id << " " << control.y;
    if (control.text) EXPECT_STREQ(text, control.text) << control.id << " " << control.y;
    // Trackbars draw no text and keep no font; only the first one ticks every step.
    if (_wcsicmp(className, TRACKBAR_CLASSW) != 0)
      EXPECT_NE(SendMessageW(child, WM_GETFONT, 0, 0), 0) << control.id << " " << control.y;
    else
      EXPECT_EQ((GetWindowLongW(child, GWL_STYLE) & TBS_AUTOTICKS) != 0, control.id == 1001) << control.id;
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr) << "more controls than the layout has";

  SendMessageW(Item(1001), TBM_SETPOS, TRUE, 70);
  SendMessageW(window_, WM_CLOSE, 0, 0);
  EXPECT_EQ(GetSettingsWindow(), nullptr);
  EXPECT_FALSE(IsWindow(window_));
  EXPECT_FALSE(Saved());
}
