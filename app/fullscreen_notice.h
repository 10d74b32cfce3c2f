// When to tell the user that a game in exclusive fullscreen hides the overlay:
// Windows draws no other window above such a program, so the overlay cannot
// help it, only say so, once per program and run.
#pragma once

#include <set>
#include <string>

// SHQueryUserNotificationState's answer for a Direct3D exclusive-fullscreen
// program (QUNS_RUNNING_D3D_FULL_SCREEN).
constexpr int kNotificationStateD3dFullScreen = 3;

struct FullscreenNotices {
  // Whether the foreground program `exe` (a file name, compared without case)
  // in notification state `state` deserves the notice now; it is counted as
  // told when it does.
  bool ShouldNotify(int state, const std::wstring& exe);

 private:
  std::set<std::wstring> told;
};
