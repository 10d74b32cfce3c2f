// The settings window, a dialog in all but name (Tab, Enter, Esc): it edits
// the settings store's draft, which the overlay shows at once; "Save" commits
// it and writes config.json, "Cancel", Esc and the close box put back what
// was in force before. One window at a time.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/win_handles.h"

// Control ids, also used by tests that drive the window.
enum SettingsControlId : int {
  kIdInactiveOpacity = 1001,
  kIdInactiveOpacityValue = 1002,
  kIdSpeakingColor = 1003,
  kIdMutedColor = 1004,
  kIdDeafenedColor = 1005,
  kIdBorderColor = 1006,
  kIdSave = 1007,
  kIdCancel = 1008,
  kIdAllowMultiInstance = 1009,
  kIdNotificationPosition = 1010,
  kIdLanguage = 1011,
  kIdLanguageNote = 1012,
  kIdUsernameFontSize = 1013,
  kIdUsernameFontSizeValue = 1014,
  kIdNotificationFontSize = 1015,
  kIdNotificationFontSizeValue = 1016,
  kIdPipEnabled = 1017,
  kIdLabelOpacity = 1018,
  kIdLabelOpacityValue = 1019,
  kIdShowOnlySpeaking = 1020,
  kIdAlwaysShowSelf = 1021,
  kIdMaxNameLength = 1022,
  kIdMaxNameLengthValue = 1023,
  kIdShowAvatars = 1024,
  kIdBorderOpacity = 1025,
  kIdBorderOpacityValue = 1026,
  kIdAvatarSize = 1027,
  kIdAvatarSizeValue = 1028,
  kIdMemberLayout = 1029,
  kIdMonitor = 1030,
  kIdToggleHotkey = 1031,
  kIdHotkeyNote = 1032,
  kIdSaveNote = 1033,
  kIdStartWithWindows = 1034,
  kIdBrowserSource = 1035,
  kIdBrowserSourceUrl = 1036,
  kIdShowStreamMarks = 1037,
};

// The window and what lasts between its openings; its procedure finds it
// through GWLP_USERDATA.
struct SettingsWindow {
  SettingsWindow() = default;
  ~SettingsWindow();
  SettingsWindow(const SettingsWindow&) = delete;
  SettingsWindow& operator=(const SettingsWindow&) = delete;

  // Saves to configPath (tests bring their own); an open window comes to the front instead.
  void Show(HWND owner, const std::wstring& configPath);
  // Every message loop that can hold the window: its Tab, Enter and Esc keys;
  // true when the message was taken.
  bool HandleKeys(MSG& message) const;

  HWND window = nullptr;  // while open
  FontHandle font;        // the system's message font at the window's DPI
  std::vector<HWND> controls;
  std::wstring configPath;
  HWND owner = nullptr;  // its work loop applies the hotkey and the pages
  COLORREF customColors[16] = {};  // the colour chooser's, kept for the run

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
};
