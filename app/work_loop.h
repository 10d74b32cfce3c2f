// The user-interface thread's periodic work (polling Discord, reconnecting,
// draining notifications, frames, keeping the overlay on top). It runs from
// the message window's timer and wake-up messages rather than from a loop of
// its own, so every modal loop (a message box, the tray menu, the colour
// chooser) keeps it going, and between two pieces of work the thread sleeps.
// The message-only window's procedure and the reconnect belong here too.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/fullscreen_notice.h"
#include "app/voice_roster.h"
#include "app/voice_user.h"
#include "notify/voice_feed.h"

// The work loop's pace and the input it watches: raw keyboard input (for the
// Ctrl+Alt gesture), the foreground hook (for staying on top and telling of
// exclusive fullscreen) and the show/hide hotkey, all on one window.
struct WorkLoop {
  WorkLoop() = default;
  ~WorkLoop() { Stop(); }
  // Lets go of the input, the hook, the hotkey and the timer.
  void Stop();
  WorkLoop(const WorkLoop&) = delete;
  WorkLoop& operator=(const WorkLoop&) = delete;

  HWND window = nullptr;  // the message window, while the sources are started
  uint32_t lastReconnect = 0;  // 0: a failed first connect is retried at once
  uint32_t lastTopmost = 0;
  uint32_t lastFrame = 0;  // FrameClockMs, as lastPush
  uint32_t lastPush = 0;
  bool rawKeyboard = false;
  bool ctrlHeld = false;  // as raw input reported them
  bool altHeld = false;
  HWINEVENTHOOK foregroundHook = nullptr;
  std::string hotkeyText;  // as configured when last applied
  bool hotkeyHeld = false;
  FullscreenNotices fullscreenNotices;
};

// The voice roster, the plugin feed's way into it, and what steers Discord's RPC.
struct VoiceSources {
  VoiceRoster roster;
  FeedIntake intake;
  bool pluginEnabled = false;
  bool feedSeen = false;
  bool twoWaysTold = false;
  uint32_t startTick = 0;
};

constexpr UINT WM_APP_WAKE = WM_APP + 1;
constexpr UINT_PTR kWorkTimerId = 1;
// Sent by the settings window: wParam kApplyHotkey puts the committed
// toggle_hotkey in force first; the answer is 1 while the configured hotkey is
// held (or none is configured), 0 when another program holds it.
constexpr UINT WM_APP_TOGGLE_HOTKEY = WM_APP + 2;
constexpr WPARAM kApplyHotkey = 1;
// Sent by the settings window: wParam kApplyBrowserSource starts or stops the
// browser source as the committed settings say first; the answer is its port, 0 while off.
constexpr UINT WM_APP_BROWSER_SOURCE = WM_APP + 3;
constexpr WPARAM kApplyBrowserSource = 1;

// The work loop's input on the message window (g_app's).
void StartWorkSources(HWND messageWindow);
// Any thread: the work is looked at again soon (one posted message at a time),
// through the window set here (null: none, a wake-up is then dropped). Threads
// may call it after the application has gone, so it keeps its own record.
void SetWakeWindow(HWND window);
void WakeWorkLoop();
// The settings changed: the overlay is placed and drawn anew.
void TakeSettingsChange();
// The message-only window's procedure: the work messages, then the tray's.
LRESULT CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Connects the RPC client unless a connection is on its way or Discord's RPC
// is to be left alone now (the plugin's feed is live or awaited); the tray
// shows the result.
void Reconnect();
// Before the first Reconnect: whether BetterDiscord has the Tallybell plugin
// switched on, so that its feed is waited for.
void StartVoiceSources(bool pluginEnabled);
// UI thread: a delivery of the plugin's feed, a list from Discord's RPC.
void TakeFeedDelivery(const FeedDelivery& delivery);
void TakeRpcVoiceUsers(const std::vector<VoiceUser>& users);
void TakeRpcSpeaking(const std::string& userId, bool speaking);
void TakeRpcSelfId(const std::string& userId);
// UI thread: whatever is due now, then the timer for the next deadline.
void RunDueWork();
// Until WM_QUIT or the Exit command.
void RunMessageLoop();
