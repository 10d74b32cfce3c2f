// The user-interface thread's periodic work (polling Discord, reconnecting,
// draining notifications, frames, keeping the overlay on top). It runs from
// the message window's timer and wake-up messages rather than from a loop of
// its own, so every modal loop (a message box, the tray menu, the colour
// chooser) keeps it going, and between two pieces of work the thread sleeps.
// The message-only window's procedure and the reconnect belong here too.
#pragma once

#include <windows.h>

#include <vector>

#include "app/voice_user.h"

struct FeedDelivery;

constexpr UINT WM_APP_WAKE = WM_APP + 1;
constexpr UINT_PTR kWorkTimerId = 1;
// WM_APP_WAKE's wParam when what the overlay draws from has changed (settings).
constexpr WPARAM kWakeRedraw = 1;
// Sent by the settings window: wParam kApplyHotkey puts g_config's
// toggle_hotkey in force first; the answer is 1 while the configured hotkey is
// held (or none is configured), 0 when another program holds it.
constexpr UINT WM_APP_TOGGLE_HOTKEY = WM_APP + 2;
constexpr WPARAM kApplyHotkey = 1;
// Sent by the settings window: wParam kApplyBrowserSource starts or stops the
// browser source as g_config says first; the answer is its port, 0 while off.
constexpr UINT WM_APP_BROWSER_SOURCE = WM_APP + 3;
constexpr WPARAM kApplyBrowserSource = 1;

// Raw keyboard input (for the Ctrl+Alt gesture), the foreground hook (for
// staying on top and telling of exclusive fullscreen) and the show/hide
// hotkey; needs g_messageWindow.
void StartWorkSources();
void StopWorkSources();
// Any thread: the work is looked at again soon (one posted message at a time).
void WakeWorkLoop();
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
