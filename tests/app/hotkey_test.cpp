#include "app/hotkey.h"

#include <gtest/gtest.h>

#include "app/fullscreen_notice.h"

namespace {

TEST(Hotkey, ParsesWhatUsersWrite) {
  struct Case { const char* text; bool valid; uint32_t modifiers; uint32_t key; const char* canonical; };
  const Case cases[] = {
      {"Ctrl+Shift+O", true, kHotkeyCtrl | kHotkeyShift, 'O', "Ctrl+Shift+O"},
      {" shift + control + o ", true, kHotkeyCtrl | kHotkeyShift, 'O', "Ctrl+Shift+O"},
      {"Alt+F12", true, kHotkeyAlt, 0x7B, "Alt+F12"},
      {"Win+Alt+PageDown", true, kHotkeyAlt | kHotkeyWin, 0x22, "Alt+Win+PageDown"},
      {"Ctrl+7", true, kHotkeyCtrl, '7', "Ctrl+7"},
      {"", false, 0, 0, ""},              // no hotkey
      {"Shift+O", false, 0, 0, ""},       // would take a letter from every game
      {"O", false, 0, 0, ""},
      {"Ctrl+", false, 0, 0, ""},
      {"Ctrl+F25", false, 0, 0, ""},
      {"Hyper+O", false, 0, 0, ""},
      {"Ctrl+Oops", false, 0, 0, ""},
  };
  for (const Case& c : cases) {
    auto hotkey = ParseHotkey(c.text);
    ASSERT_EQ(hotkey.has_value(), c.valid) << c.text;
    if (!hotkey) continue;
    EXPECT_EQ(hotkey->modifiers, c.modifiers) << c.text;
    EXPECT_EQ(hotkey->key, c.key) << c.text;
    EXPECT_EQ(FormatHotkey(*hotkey), c.canonical) << c.text;
  }
  EXPECT_EQ(FormatHotkey({kHotkeyCtrl, 0xE7}), "");  // a key without a name is not saved
}

TEST(FullscreenNotice, OncePerProgramInExclusiveFullscreen) {
  FullscreenNotices notices;
  struct Step { int state; const wchar_t* exe; bool notify; };
  const Step steps[] = {
      {5, L"game.exe", false},   // accepts notifications: windowed
      {2, L"game.exe", false},   // busy (borderless fullscreen): the overlay shows there
      {4, L"game.exe", false},   // presentation mode
      {3, L"game.exe", true},
      {3, L"GAME.EXE", false},   // the same program, told already
      {3, L"other.exe", true},
      {3, L"", false},           // a program whose name could not be read
  };
  for (const Step& s : steps) EXPECT_EQ(notices.ShouldNotify(s.state, s.exe), s.notify) << s.state << " " << s.exe;
}

}  // namespace
