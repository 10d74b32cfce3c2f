#include "app/work_loop.h"

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>

#include "app/app.h"
#include "app/browser_source_link.h"
#include "app/config.h"
#include "app/settings_store.h"
#include "app/fullscreen_notice.h"
#include "app/hotkey.h"
#include "app/log.h"
#include "app/text.h"
#include "app/text_convert.h"
#include "app/tray.h"
#include "app/voice_roster.h"
#include "app/win_handles.h"
#include "notify/notification_server.h"
#include "notify/voice_feed.h"
#include "overlay/overlay_window.h"
#include "rpc/rpc_client.h"
#include "ui/settings_window.h"

namespace {

constexpr uint32_t kReconnectIntervalMs = 5000;
constexpr uint32_t kFrameIntervalMs = 33;
// News arriving back to back still push at most about 120 frames a second.
constexpr uint32_t kNewsGapMs = 8;
// Foreground changes re-assert the overlay at once; this only catches a
// window that made itself topmost without taking the foreground.
constexpr uint32_t kTopmostSafetyMs = 2000;
// Without raw input the gesture is looked for at this pace instead.
constexpr uint32_t kKeyPollMs = 100;
constexpr int kToggleHotkeyId = 1;
static_assert(kHotkeyAlt == MOD_ALT && kHotkeyCtrl == MOD_CONTROL && kHotkeyShift == MOD_SHIFT && kHotkeyWin == MOD_WIN);

// Apart from the application: download and server threads wake the loop
// until the very end, and a wake-up after it finds no window.
struct WakeRecord {
  std::atomic<HWND> window{nullptr};
  std::atomic<bool> posted{false};
};

WakeRecord g_wake;

// The overlay follows the roster: a whole list, or one member's ring.
void ShowRosterChange(const RosterChange& change) {
  if (g_app->overlay) {
    g_app->overlay->SetSelfId(g_app->voice.roster.SelfId());
    if (change.kind == RosterChange::Kind::Members) g_app->overlay->SetVoiceUsers(g_app->voice.roster.Shown());
    if (change.kind == RosterChange::Kind::Speaking) g_app->overlay->SetSpeaking(change.id, change.speaking);
  }
  if (change.kind == RosterChange::Kind::Members) ShowVoiceSource(g_app->voice.roster.Source());
}

bool AwaitingFeed(uint32_t now) {
  return g_app->voice.pluginEnabled && !g_app->voice.feedSeen && now - g_app->voice.startTick < kFeedWaitMs;
}

RpcPlan CurrentRpcPlan(uint32_t now) {
  RpcFacts facts;
  facts.pluginInstalled = g_app->voice.pluginEnabled;
  facts.registeredApp = g_settings.Committed().client_id != kBuiltInClientId;
  facts.feedLive = g_app->voice.roster.FeedLive();
  facts.feedSeen = g_app->voice.feedSeen;
  facts.msSinceStart = now - g_app->voice.startTick;
  facts.twoWaysTold = g_app->voice.twoWaysTold;
  return PlanRpc(facts);
}

// Polls, reconnects or leaves Discord's RPC alone, as the plan says now.
void KeepRpcToPlan(uint32_t now) {
  if (!g_app->rpc) return;
  const RpcPlan plan = CurrentRpcPlan(now);
  // Only once nothing shows the channel: a stand-in of Discord may take the
  // built-in id, Discord itself refuses it.
  if (plan.tellTwoWays && (!plan.connect || g_app->rpc->State() == RpcState::ClientIdRejected)) {
    g_app->voice.twoWaysTold = true;
    WriteLogLine(L"[Voice] Neither the plugin's feed nor a registered Discord application");
    TellTwoWays();
  }
  g_app->rpc->AllowAuthorization(plan.authorize);
  if (!plan.connect) {
    g_app->work.lastReconnect = now;  // the plan is looked at again by the reconnect's pace, not at once
    if (!g_app->rpc->IsConnected()) return;
    WriteLogLine(L"[Voice] The plugin's feed is live: Discord's RPC is left alone with the built-in client id");
    g_app->rpc->Disconnect();
    ShowRosterChange(g_app->voice.roster.LoseRpc());
    return;
  }
  if (g_app->rpc->IsConnected()) {
    g_app->rpc->Poll();
  } else if (now - g_app->work.lastReconnect > kReconnectIntervalMs) {
    Reconnect();
    g_app->work.lastReconnect = now;
  }
}

uint32_t Remaining(uint32_t interval, uint32_t elapsed) { return elapsed >= interval ? 0 : interval - elapsed; }

// GetTickCount moves in steps of about 16 ms (on Windows and under Wine): a
// push 33 ms ago could read as 32 and hold a new card back a whole step.
uint32_t FrameClockMs() {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER f = {};
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER count = {};
  QueryPerformanceCounter(&count);
  return static_cast<uint32_t>(count.QuadPart / frequency * 1000 + count.QuadPart % frequency * 1000 / frequency);
}

void ReassertTopmost(uint32_t now) {
  if (g_app->overlay) g_app->overlay->KeepOnTop();
  g_app->work.lastTopmost = now;
}

// The file name of the program that owns the window; empty when unknown.
std::wstring ProgramOf(HWND window) {
  DWORD processId = 0;
  if (!window || !GetWindowThreadProcessId(window, &processId)) return {};
  ProcessHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return {};
  wchar_t path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (!QueryFullProcessImageNameW(process.Get(), 0, path, &size)) return {};
  const std::wstring full(path, size);
  return full.substr(full.find_last_of(L"\\/") + 1);
}

// Windows draws no other window above a program in exclusive fullscreen: the
// overlay cannot help that, only say so once per program.
void TellOfExclusiveFullscreen(HWND foreground) {
  QUERY_USER_NOTIFICATION_STATE state = QUNS_ACCEPTS_NOTIFICATIONS;
  if (FAILED(SHQueryUserNotificationState(&state))) return;
  const std::wstring program = ProgramOf(foreground);
  if (!g_app->work.fullscreenNotices.ShouldNotify(state, program)) return;
  WriteLogLine(L"[Overlay] " + program + L" runs in exclusive fullscreen, where Windows shows no overlay; "
               L"its borderless windowed mode would show it");
  std::wstring text = Text(kTextFullscreenBalloon);
  text.replace(text.find(L"%s"), 2, program);
  ShowTrayBalloon(Text(kTextFullscreenTitle), text);
}

void CALLBACK OnForegroundChanged(HWINEVENTHOOK, DWORD, HWND window, LONG, LONG, DWORD, DWORD) {
  ReassertTopmost(GetTickCount());
  TellOfExclusiveFullscreen(window);
}

// News are drawn at once, mid-animation too, so a card never waits for the
// cadence's next slot; motion keeps the frame cadence.
uint32_t MsUntilFrame(uint32_t now) {
  if (!g_app->overlay) return kNoChange;
  uint32_t change = g_app->overlay->MsUntilPictureChanges(now);
  if (change == kNoChange) return kNoChange;
  const uint32_t clock = FrameClockMs();
  if (g_app->overlay->stateChanged) return Remaining(kNewsGapMs, clock - g_app->work.lastPush);
  return std::max(change, Remaining(kFrameIntervalMs, clock - g_app->work.lastFrame));
}

void RunFrame() {
  const uint32_t clock = FrameClockMs();
  g_app->overlay->Update();
  if (g_app->overlay->Render()) g_app->work.lastPush = clock;
  g_app->work.lastFrame = clock;
}

void ScheduleNextWork(uint32_t now) {
  uint32_t wait = std::min(MsUntilFrame(now), Remaining(kTopmostSafetyMs, now - g_app->work.lastTopmost));
  if (g_app->rpc) {
    wait = std::min(wait, g_app->rpc->IsConnected()
                              ? g_app->rpc->MsUntilPollDue(now)
                              : Remaining(kReconnectIntervalMs + 1, now - g_app->work.lastReconnect));
  }
  wait = std::min(wait, g_app->voice.roster.MsUntilAdvance(now));
  if (AwaitingFeed(now)) wait = std::min(wait, Remaining(kFeedWaitMs, now - g_app->voice.startTick));
  if (!g_app->work.rawKeyboard) wait = std::min(wait, kKeyPollMs);
  SetTimer(g_app->work.window, kWorkTimerId, std::max<uint32_t>(wait, USER_TIMER_MINIMUM), nullptr);
}

// The keys come from the event itself: GetAsyncKeyState may still answer
// from before it (Wine keeps its answers for a while). True for Ctrl or Alt.
bool TrackModifierKeys(HRAWINPUT input) {
  RAWINPUT data = {};
  UINT size = sizeof(data);
  if (GetRawInputData(input, RID_INPUT, &data, &size, sizeof(RAWINPUTHEADER)) == static_cast<UINT>(-1) ||
      data.header.dwType != RIM_TYPEKEYBOARD)
    return false;
  bool down = !(data.data.keyboard.Flags & RI_KEY_BREAK);
  switch (data.data.keyboard.VKey) {
    case VK_CONTROL: case VK_LCONTROL: case VK_RCONTROL: g_app->work.ctrlHeld = down; return true;
    case VK_MENU: case VK_LMENU: case VK_RMENU: g_app->work.altHeld = down; return true;
    default: return false;
  }
}

// The show/hide hotkey as config.json spells it ("" for none), in place of
// the one held so far; false, with a log line, when the text names no hotkey
// or another program holds it (then none is held).
bool ApplyToggleHotkey(const std::string& text) {
  if (g_app->work.hotkeyHeld) UnregisterHotKey(g_app->work.window, kToggleHotkeyId);
  g_app->work.hotkeyHeld = false;
  g_app->work.hotkeyText = text;
  if (text.empty()) return true;
  const std::wstring shown = Utf8ToWide(text);
  std::optional<Hotkey> hotkey = ParseHotkey(text);
  if (!hotkey) {
    WriteLogLine(L"ERROR: toggle_hotkey \"" + shown + L"\" names no hotkey (for example Ctrl+Shift+O)");
    return false;
  }
  g_app->work.hotkeyHeld = RegisterHotKey(g_app->work.window, kToggleHotkeyId, hotkey->modifiers | MOD_NOREPEAT,
                                         hotkey->key) != FALSE;
  if (g_app->work.hotkeyHeld)
    WriteLogLine(L"Show/hide hotkey: " + shown);
  else
    WriteLogLine(L"ERROR: RegisterHotKey failed (" + std::to_wstring(GetLastError()) + L"): " + shown +
                 L" is held by another program");
  return g_app->work.hotkeyHeld;
}

// Whether the configured hotkey is held (true when none is configured).
bool ToggleHotkeyHeld() { return g_app->work.hotkeyText.empty() || g_app->work.hotkeyHeld; }

// The work messages; true when handled.
bool HandleWorkMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_APP_WAKE:
      // Cleared first: a push after this point posts again.
      g_wake.posted = false;
      RunDueWork();
      return true;
    case WM_TIMER:
      if (wParam != kWorkTimerId) return false;
      RunDueWork();
      return true;
    case WM_HOTKEY:
      if (wParam != kToggleHotkeyId || !g_app->overlay) return false;
      g_app->overlay->Toggle();
      RunDueWork();
      return true;
    case WM_INPUT:
      // The caller still passes it on to DefWindowProc, which frees it.
      if (TrackModifierKeys(reinterpret_cast<HRAWINPUT>(lParam)) && g_app->overlay &&
          g_app->overlay->SetDragMode(g_app->work.ctrlHeld && g_app->work.altHeld))
        RunDueWork();
      return false;
    default:
      return false;
  }
}

}  // namespace

LRESULT CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP_BROWSER_SOURCE) {
    if (wParam == kApplyBrowserSource) ApplyBrowserSourceSetting();
    return BrowserSourcePort();
  }
  if (message == WM_APP_TOGGLE_HOTKEY) {
    if (wParam == kApplyHotkey) ApplyToggleHotkey(g_settings.Committed().toggle_hotkey);
    return ToggleHotkeyHeld();
  }
  if (HandleWorkMessage(message, wParam, lParam)) return 0;
  if (HandleTrayMessage(window, message, wParam, lParam)) {
    WakeWorkLoop();  // a shown overlay or a new connection wants its frame
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// A connection still on its way is kept: the client decides (Connect).
void Reconnect() {
  if (!g_app->rpc) return;
  const RpcPlan plan = CurrentRpcPlan(GetTickCount());
  if (!plan.connect) {
    WriteLogLine(L"[Voice] Discord's RPC left alone: the client id is the built-in one, and the plugin is on or its "
                 L"feed is live");
    return;
  }
  g_app->rpc->AllowAuthorization(plan.authorize);
  g_app->rpc->clientSecret = g_settings.Committed().client_secret;
  g_app->rpc->Connect(g_settings.Committed().client_id);
  ShowConnectionState(g_app->rpc->State());
}

void StartVoiceSources(bool pluginEnabled) {
  g_app->voice.pluginEnabled = pluginEnabled;
  g_app->voice.startTick = GetTickCount();
  if (pluginEnabled)
    WriteLogLine(L"[Voice] The Tallybell plugin is on in BetterDiscord: its feed is awaited up to " +
                 std::to_wstring(kFeedWaitMs / 1000) + L" s before Discord is asked for authorization");
}

void TakeFeedDelivery(const FeedDelivery& delivery) {
  const bool wasLive = g_app->voice.roster.FeedLive();
  std::string problem, note;
  const RosterChange change = g_app->voice.intake.Take(delivery, GetTickCount(), g_app->voice.roster, &problem, &note);
  if (!problem.empty()) WriteLogLine(L"[Voice] Feed message dropped: " + Utf8ToWide(problem));
  if (!note.empty()) WriteLogLine(L"[Voice] Feed list: " + Utf8ToWide(note));
  const bool live = g_app->voice.roster.FeedLive();
  if (live != wasLive)
    WriteLogLine(live ? L"[Voice] The plugin's voice feed is live" : L"[Voice] The plugin's voice feed ended");
  g_app->voice.feedSeen = g_app->voice.feedSeen || live;
  ShowRosterChange(change);
}

void TakeRpcVoiceUsers(const std::vector<VoiceUser>& users) {
  std::string note;
  const RosterChange change = g_app->voice.roster.ReplaceList(VoiceSource::Rpc, users, &note);
  if (!note.empty()) WriteLogLine(L"[Voice] RPC list: " + Utf8ToWide(note));
  ShowRosterChange(change);
}

void TakeRpcSpeaking(const std::string& userId, bool speaking) {
  ShowRosterChange(g_app->voice.roster.SetSpeaking(VoiceSource::Rpc, userId, speaking));
}

void TakeRpcSelfId(const std::string& userId) {
  g_app->voice.roster.SetSelfId(VoiceSource::Rpc, userId);
  ShowRosterChange({});
}

void StartWorkSources(HWND messageWindow) {
  WorkLoop& work = g_app->work;
  work.window = messageWindow;
  RAWINPUTDEVICE keyboard = {0x01, 0x06, RIDEV_INPUTSINK, messageWindow};  // generic desktop, keyboard
  work.rawKeyboard = RegisterRawInputDevices(&keyboard, 1, sizeof(keyboard));
  if (!work.rawKeyboard)
    WriteLogLine(L"ERROR: RegisterRawInputDevices failed (" + std::to_wstring(GetLastError()) +
                 L"), Ctrl+Alt is checked every 100 ms");
  work.foregroundHook = SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr,
                                        OnForegroundChanged, 0, 0, WINEVENT_OUTOFCONTEXT);
  if (!work.foregroundHook)
    WriteLogLine(L"ERROR: SetWinEventHook failed (" + std::to_wstring(GetLastError()) +
                 L"), the overlay is kept on top every 2 s only");
  ApplyToggleHotkey(g_settings.Committed().toggle_hotkey);
}

void WorkLoop::Stop() {
  if (!window) return;
  if (hotkeyHeld) UnregisterHotKey(window, kToggleHotkeyId);
  hotkeyHeld = false;
  KillTimer(window, kWorkTimerId);
  if (foregroundHook) UnhookWinEvent(foregroundHook);
  foregroundHook = nullptr;
  if (rawKeyboard) {
    RAWINPUTDEVICE keyboard = {0x01, 0x06, RIDEV_REMOVE, nullptr};
    RegisterRawInputDevices(&keyboard, 1, sizeof(keyboard));
  }
  rawKeyboard = false;
  window = nullptr;
}

void SetWakeWindow(HWND window) { g_wake.window = window; }

// As Chromium's pump: a post that fails clears the flag again, or no thread
// would ever wake the loop again and only its safety timer would run it.
void WakeWorkLoop() {
  HWND window = g_wake.window;
  // A null window would post a thread message, which no window procedure clears the flag for.
  if (!window || g_wake.posted.exchange(true)) return;
  if (PostMessageW(window, WM_APP_WAKE, 0, 0)) return;
  const DWORD error = GetLastError();
  g_wake.posted = false;
  WriteLogLine(L"ERROR: PostMessageW of the wake-up failed (" + std::to_wstring(error) +
               L"), the next wake-up posts again");
}

void TakeSettingsChange() {
  if (g_app && g_app->overlay) {
    g_app->overlay->PlaceOnMonitor();  // the setting may name another one
    g_app->overlay->stateChanged = true;
  }
  WakeWorkLoop();
}

void RunDueWork() {
  uint32_t now = GetTickCount();
  // The feed first: whether it is live decides what the RPC client may do.
  if (g_app->notifications) g_app->notifications->ProcessPendingNotifications();
  ShowRosterChange(g_app->voice.roster.Advance(now));
  KeepRpcToPlan(now);
  if (g_app->overlay) PublishBrowserVoice(g_app->overlay->state.users, g_app->overlay->state.selfId, g_app->voice.roster.Source());
  if (now - g_app->work.lastTopmost >= kTopmostSafetyMs) ReassertTopmost(now);
  if (g_app->overlay && !g_app->work.rawKeyboard) g_app->overlay->UpdateDragMode();
  if (MsUntilFrame(now) == 0) RunFrame();
  ScheduleNextWork(GetTickCount());
}

void RunMessageLoop() {
  MSG msg;
  while (g_app->running) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      g_app->running = false;
      break;
    }
    if (g_app->settingsWindow.HandleKeys(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}
