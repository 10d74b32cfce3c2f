// The settings window driven as a user drives it: keys on the sliders,
// clicks on buttons and check boxes. Needs a display.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/autostart.h"
#include "app/config.h"
#include "app/settings_store.h"
#include "app/log.h"
#include "app/text.h"
#include "ui/settings_window.h"
#include "tests/support/child_process.h"

namespace {

std::string FileText(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Without the carriage returns that the file's lines end with.
std::string WithoutCr(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '\r') out += c;
  return out;
}

// Fills the volume of the folder to the last byte; the filler's path.
std::wstring FillVolume(const std::wstring& folder) {
  const std::wstring filler = folder + L"\\filler.bin";
  HANDLE file = CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  const std::string chunk(512, 'x');
  DWORD written = 0;
  while (file != INVALID_HANDLE_VALUE && WriteFile(file, chunk.data(), DWORD(chunk.size()), &written, nullptr) &&
         written == chunk.size()) {
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return filler;
}

}  // namespace

class SettingsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_settings.Replace(Config());
    g_language = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"voxmere_settings_" + std::to_wstring(GetCurrentProcessId()) + L".json";
    DeleteFileW(path_.c_str());
  }
  void TearDown() override {
    if (settings_.window) DestroyWindow(settings_.window);
    DeleteFileW(path_.c_str());
  }
  HWND Open() {
    settings_.Show(nullptr, path_);
    return window_ = settings_.window;
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
  // Empty when nothing was saved.
  std::string SavedText() const { return WithoutCr(FileText(path_)); }

  SettingsWindow settings_;
  std::wstring path_;
  HWND window_ = nullptr;
};

// A stored value outside a slider's range (a huge one once overflowed the
// conversion) leaves the slider at its end; what the controls change is
// shown at once and reaches the record only through Save.
TEST_F(SettingsWindowTest, StoredValuesShowAndSaveWritesEveryControl) {
  g_settings.Change([](Config& settings) {
    settings.inactive_opacity = 1e30f;
    settings.username_font_size = 30;
  });
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(ItemText(kIdInactiveOpacityValue) + ItemText(kIdUsernameFontSizeValue), L"1000000%30pt");
  EXPECT_EQ(SendMessageW(Item(kIdInactiveOpacity), TBM_GETPOS, 0, 0), 100);
  Key(kIdInactiveOpacity, VK_LEFT);
  EXPECT_FLOAT_EQ(g_settings.Effective().inactive_opacity, 0.99f);  // shown, not yet in force
  EXPECT_FLOAT_EQ(g_settings.Committed().inactive_opacity, 1e30f);
  SendMessageW(Item(kIdNotificationPosition), CB_SETCURSEL, 5, 0);
  SendMessageW(Item(kIdLanguage), CB_SETCURSEL, 2, 0);
  // No owner serves the browser source here.
  EXPECT_EQ(ItemText(kIdBrowserSourceUrl), L"Off");
  for (int box : {kIdPipEnabled, kIdAllowMultiInstance, kIdShowOnlySpeaking, kIdAlwaysShowSelf, kIdShowAvatars,
                  kIdBrowserSource, kIdShowStreamMarks})
    Click(box);
  for (int step = 0; step < 9; ++step) Key(kIdMaxNameLength, VK_RIGHT);  // from "None" to 12
  EXPECT_EQ(ItemText(kIdMaxNameLengthValue), L"12");
  Config expected = g_settings.Effective();
  expected.username_font_size = 24;
  expected.notification_position = 5;
  expected.language = "ja";
  expected.pip_enabled = expected.allow_multi_instance = expected.show_only_speaking = true;
  expected.always_show_self = expected.show_avatars = expected.browser_source_enabled =
      expected.show_stream_marks = false;
  Click(kIdSave);
  EXPECT_EQ(settings_.window, nullptr);
  EXPECT_EQ(SavedText(), FormatConfigText(expected));
  EXPECT_EQ(FormatConfigText(g_settings.Committed()), FormatConfigText(expected));
}

// Every slider's two ends, saved, read back as they were: the window offers
// no value that the reader would clamp away.
TEST_F(SettingsWindowTest, EverySliderEndSurvivesTheReader) {
  for (int slider : {kIdInactiveOpacity, kIdLabelOpacity, kIdBorderOpacity, kIdUsernameFontSize,
                     kIdNotificationFontSize, kIdMaxNameLength, kIdAvatarSize}) {
    for (WPARAM key : {VK_HOME, VK_END}) {
      ASSERT_NE(Open(), nullptr);
      Key(slider, key);
      const Config shown = g_settings.Effective();
      Click(kIdSave);
      ASSERT_EQ(settings_.window, nullptr);
      Config read;
      EXPECT_EQ(ApplyConfigText(read, SavedText()), "");
      EXPECT_EQ(FormatConfigText(read), FormatConfigText(shown)) << slider << " " << key;
      g_settings.Replace(Config());
    }
  }
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
  EXPECT_EQ(placed.size(), 53u);
  EXPECT_EQ(ItemText(kIdShowOnlySpeaking) + ItemText(kIdMaxNameLengthValue) + ItemText(kIdBrowserSourceUrl),
            L"発言中のメンバーのみ表示なしオフ");
  const Config before = g_settings.Committed();
  Key(kIdUsernameFontSize, VK_RIGHT);
  Click(kIdShowAvatars);
  EXPECT_TRUE(g_settings.Effective().username_font_size == before.username_font_size + 1 && !g_settings.Effective().show_avatars);
  SendMessageW(window_, WM_CLOSE, 0, 0);
  EXPECT_EQ(SavedText(), "");
  EXPECT_EQ(FormatConfigText(g_settings.Committed()), FormatConfigText(before));
  EXPECT_EQ(FormatConfigText(g_settings.Effective()), FormatConfigText(before));
}


// A save that cannot be written (a full disk; a folder where the new file
// must go) keeps the old config.json whole, removes what it began, says why
// in the log and in the window, which stays open with the draft and leaves
// what is in force alone; once the cause is gone, Save saves.
TEST_F(SettingsWindowTest, FailedSaveKeepsTheOldFileAndTheWindowOpen) {
  const std::wstring volume = TestBinDirectory() + L"\\small_volume";
  ULARGE_INTEGER total = {};
  const bool smallVolume = GetDiskFreeSpaceExW(volume.c_str(), nullptr, &total, nullptr) &&
                           total.QuadPart < 1024 * 1024;
  if (!smallVolume) std::printf("no small volume at bin\\small_volume: the full-disk row is skipped\n");
  struct Row {
    const char* name;
    bool fullDisk;  // else a folder where the new file must go
    std::wstring path;
    std::string logged;  // the log line's start
  };
  const Row rows[] = {
      {"full disk", true, volume + L"\\config.json", "[Config] ERROR: Settings not saved, WriteFile failed (112)"},
      {"folder in the way", false, path_, "[Config] ERROR: Settings not saved, CreateFileW failed ("},
  };
  for (const Row& row : rows) {
    if (row.fullDisk && !smallVolume) continue;
    SCOPED_TRACE(row.name);
    Config settings;
    settings.avatar_size = 64;
    g_settings.Replace(settings);
    ASSERT_TRUE(SaveConfig(settings, row.path));
    const std::string old = FileText(row.path);
    const std::wstring temporary = row.path + L".saving";
    const std::wstring filler = row.fullDisk ? FillVolume(volume) : L"";
    if (!row.fullDisk) {
      ASSERT_TRUE(CreateDirectoryW(temporary.c_str(), nullptr));
    }
    g_logPath = TestBinDirectory() + L"\\settings_window_test.log";
    DeleteFileW(g_logPath.c_str());

    settings_.Show(nullptr, row.path);
    window_ = settings_.window;
    ASSERT_NE(window_, nullptr);
    Key(kIdAvatarSize, VK_RIGHT);
    Click(kIdSave);
    EXPECT_EQ(settings_.window, window_) << "the window stays open";
    EXPECT_EQ(ItemText(kIdSaveNote).substr(0, 24), L"Could not save the setti");
    EXPECT_EQ(FileText(row.path), old);
    EXPECT_EQ(g_settings.Committed().avatar_size, 64) << "what is in force stays";
    EXPECT_EQ(g_settings.Effective().avatar_size, 65) << "the draft stays shown";
    std::ifstream log(g_logPath.c_str());
    std::string line;
    std::getline(log, line);
    EXPECT_EQ(line.substr(0, row.logged.size()), row.logged) << line;

    if (!row.fullDisk) {
      RemoveDirectoryW(temporary.c_str());
    } else {
      EXPECT_EQ(GetFileAttributesW(temporary.c_str()), INVALID_FILE_ATTRIBUTES) << "the begun file is removed";
      DeleteFileW(filler.c_str());
    }
    Click(kIdSave);
    EXPECT_EQ(settings_.window, nullptr);
    Config saved;
    EXPECT_EQ(ApplyConfigText(saved, WithoutCr(FileText(row.path))), "");
    EXPECT_EQ(saved.avatar_size, 65);
    g_logPath.clear();
    if (row.fullDisk) DeleteFileW(row.path.c_str());
  }
}

namespace {

std::wstring RunValue() {
  wchar_t text[1024] = {};
  DWORD bytes = sizeof(text);
  if (RegGetValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, RRF_RT_REG_SZ, nullptr, text, &bytes) != ERROR_SUCCESS)
    return L"(none)";
  return text;
}

}  // namespace

// "Start with Windows", off by default: ticked and saved, the Run value names
// this executable, quoted (a path some other copy left there is replaced);
// unticked and saved, it is gone.
TEST_F(SettingsWindowTest, StartWithWindowsWritesAndRemovesTheRunValue) {
  const std::wstring old = L"\"C:\\old\\Voxmere.exe\"";
  RegSetKeyValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, REG_SZ, old.c_str(), DWORD((old.size() + 1) * 2));
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  const std::wstring expected[] = {L"\"" + std::wstring(exe) + L"\"", L"(none)"};
  for (const std::wstring& value : expected) {
    ASSERT_NE(Open(), nullptr);
    EXPECT_EQ(IsDlgButtonChecked(window_, kIdStartWithWindows) == BST_CHECKED, g_settings.Committed().start_with_windows);
    Click(kIdStartWithWindows);
    Click(kIdSave);
    ASSERT_EQ(settings_.window, nullptr);
    EXPECT_EQ(RunValue(), value);
  }
  EXPECT_FALSE(g_settings.Committed().start_with_windows);
}

namespace {

// The text height of a control's font.
LONG FontHeight(HWND control) {
  LOGFONTW font = {};
  HFONT handle = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  return handle && GetObjectW(handle, sizeof(font), &font) ? std::abs(font.lfHeight) : 0;
}

}  // namespace

// Moved to a monitor at 144 DPI (WM_DPICHANGED), the window takes the size
// the system suggests, and its controls stand 1.5 times as far and as big in
// the system's message font at that DPI; back at 96, all is as it was.
TEST_F(SettingsWindowTest, ADpiChangeLaysTheWindowOutForTheNewScale) {
  ASSERT_NE(Open(), nullptr);
  auto saveRect = [this] {
    RECT rect = {};
    GetWindowRect(Item(kIdSave), &rect);
    MapWindowPoints(HWND_DESKTOP, window_, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
  };
  const RECT before = saveRect();
  const LONG font96 = FontHeight(Item(kIdSave));
  ASSERT_GT(font96, 0);
  RECT suggested = {10, 10, 1180, 1000};
  SendMessageW(window_, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  const RECT after = saveRect();
  EXPECT_EQ(after.left, before.left * 3 / 2);
  EXPECT_EQ(after.top, before.top * 3 / 2);
  EXPECT_EQ(after.right - after.left, (before.right - before.left) * 3 / 2);
  EXPECT_NEAR(FontHeight(Item(kIdSave)), 1.5 * font96, 1);
  RECT window = {};
  GetWindowRect(window_, &window);
  EXPECT_EQ(window.right - window.left, 1170);
  suggested = {10, 10, 790, 775};
  SendMessageW(window_, 0x02E0, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(saveRect().right, before.right);
  EXPECT_EQ(FontHeight(Item(kIdSave)), font96);
}
