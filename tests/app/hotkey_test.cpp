#include "app/hotkey.h"

#include <gtest/gtest.h>

#include "app/fullscreen_notice.h"

namespace {

TEST(Hotkey, ParsesWhatUsersWrite) {
  struct Case { const wchar_t* text; bool valid; uint32_t modifiers; uint32_t key; const wchar_t* canonical; };
  const Case cases[] = {
      {L"Ctrl+Shift+O", true, kHotkeyCtrl | kHotkeyShift, 'O', L"Ctrl+Shift+O"},
      {L" shift + control + o ", true, kHotkeyCtrl | kHotkeyShift, 'O', L"Ctrl+Shift+O"},
      {L"Alt+F12", true, kHotkeyAlt, 0x7B, L"Alt+F12"},
      {L"Win+Alt+PageDown", true, kHotkeyAlt | kHotkeyWin, 0x22, L"Alt+Win+PageDown"},
      {L"Ctrl+7", true, kHotkeyCtrl, '7', L"Ctrl+7"},
      {L"", false, 0, 0, L""},              // no hotkey
      {L"Shift+O", false, 0, 0, L""},       // would take a letter from every game
      {L"O", false, 0, 0, L""},
      {L"Ctrl+", false, 0, 0, L""},
      {L"Ctrl+F25", false, 0, 0, L""},
      {L"Hyper+O", false, 0, 0, L""},
      {L"Ctrl+Oops", false, 0, 0, L""},
  };
  for (const Case& c : cases) {
    auto hotkey = ParseHotkey(c.text);
    ASSERT_EQ(hotkey.has_value(), c.valid) << c.text;
    if (!hotkey) continue;
    EXPECT_EQ(hotkey->modifiers, c.modifiers) << c.text;
    EXPECT_EQ(hotkey->key, c.key) << c.text;
    EXPECT_EQ(FormatHotkey(*hotkey), c.canonical) << c.text;
  }
  EXPECT_EQ(FormatHotkey({kHotkeyCtrl, 0xE7}), L"");  // a key without a name is not saved
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
