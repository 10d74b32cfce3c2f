// The tray: its menu for each state and the message window's commands driven
// in-process as the notification area drives them. Needs a display.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/autostart.h"
#include "app/config.h"
#include "app/settings_store.h"
#include "app/log.h"
#include "app/text.h"
#include "app/tray.h"
#include "app/work_loop.h"
#include "overlay/overlay_window.h"
#include "overlay/renderer.h"
#include "rpc/rpc_client.h"
#include "tests/support/child_process.h"

namespace {

// The items' texts joined by "|" (a separator reads empty), greyed ones
// marked "~", checked ones "+", a submenu's items in brackets.
std::wstring MenuText(HMENU menu) {
  std::wstring text;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    wchar_t item[64] = {};
    GetMenuStringW(menu, i, item, 64, MF_BYPOSITION);
    HMENU submenu = GetSubMenu(menu, i);
    UINT state = GetMenuState(menu, i, MF_BYPOSITION) & (submenu ? 0xFFu : ~0u);  // a submenu's count sits above
    if (i > 0) text += L"|";
    if (state & MF_SEPARATOR) continue;
    text += std::wstring(state & MF_GRAYED ? L"~" : L"") + (state & MF_CHECKED ? L"+" : L"") + item;
    if (submenu) text += L"[" + MenuText(submenu) + L"]";
  }
  return text;
}

VoiceUser Member(const char* id, const wchar_t* name) {
  VoiceUser user;
  user.id = id;
  user.displayName = name;
  return user;
}

TEST(TrayMenuTest, ItemsFollowOverlayConnectionLanguageAndMembers) {
  struct Row {
    int language;
    bool visible, connected, startWithWindows;
    std::vector<VoiceUser> members;
    bool browserSourceOn;
    const wchar_t* text;
  };
  const Row rows[] = {
      {0, true, false, false, {}, true,
       L"Hide Overlay|Reconnect|~Members[]||Settings...|Start with Windows|Copy browser source URL||Exit"},
      {0, false, true, true, {Member("1", L"Ann"), Member("2", L"Bob")}, false,
       L"Show Overlay|~Connected|Members[+Ann|Bob]||Settings...|+Start with Windows|~Copy browser source URL||Exit"},
      {1, true, true, true, {Member("3", L"エリン")}, true,
       L"オーバーレイを隠す|~接続済み|メンバー[+エリン]||設定...|+Windows の起動時に開始|ブラウザーソースの URL をコピー||終了"},
      {1, false, false, false, {}, false,
       L"オーバーレイを表示|再接続|~メンバー[]||設定...|Windows の起動時に開始|~ブラウザーソースの URL をコピー||終了"},
  };
  for (const Row& row : rows) {
    g_language = row.language;
    Config settings;
    settings.hidden_users = L"2";
    settings.start_with_windows = row.startWithWindows;
    g_settings.Replace(settings);
    HMENU menu = BuildTrayMenu(row.visible, row.connected, row.members, row.browserSourceOn);
    EXPECT_EQ(MenuText(menu), row.text);
    DestroyMenu(menu);
  }
  g_language = 0;
  g_settings.Replace(Config());
}

// Choosing a member in the real submenu with the keyboard, as a user would,
// hides it and saves the list; choosing it again shows it. A message-only
// window on the work loop's procedure stands in for start-up's, a real overlay behind it.
TEST(TrayWindowTest, MembersSubmenuTogglesAndSavesTheHiddenId) {
  ASSERT_TRUE(RendererInitialize());
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = MessageWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"VoxmereTrayTestClass";
  RegisterClassExW(&wc);
  App app;
  g_app = &app;
  app.messageWindow.Reset(
      CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr));
  HWND messageWindow = app.messageWindow.Get();
  SetWakeWindow(messageWindow);
  app.overlay = std::make_unique<OverlayWindow>(GetRenderer());
  ASSERT_TRUE(messageWindow && app.overlay->Create(wc.hInstance));
  app.overlay->SetVoiceUsers({Member("100000000000000002", L"Bobby"), Member("100000000000000003", L"Carol")});
  const std::wstring path = GetConfigPath();
  for (const wchar_t* expected : {L"100000000000000002", L""}) {
    std::thread chooser([] {
      HWND popup = nullptr;
      WaitFor([&] { return (popup = FindWindowExW(nullptr, nullptr, L"#32768", nullptr)) && IsWindowVisible(popup); },
              10000);
      for (WPARAM key : {VK_DOWN, VK_DOWN, VK_DOWN, VK_RIGHT, VK_RETURN}) {
        PostMessageW(popup, WM_KEYDOWN, key, 0);
        PostMessageW(popup, WM_KEYUP, key, 0);
      }
    });
    SendMessageW(messageWindow, WM_TRAYICON, 1, WM_RBUTTONUP);
    chooser.join();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    EXPECT_EQ(g_settings.Effective().hidden_users, expected);
    Config saved;
    ASSERT_TRUE(LoadConfig(saved, path));
    EXPECT_EQ(saved.hidden_users, expected);
  }
  // "Start with Windows" from the menu: the Run value and config.json follow.
  for (bool on : {true, false}) {
    SendMessageW(messageWindow, WM_COMMAND, MENU_START_WITH_WINDOWS, 0);
    wchar_t value[MAX_PATH + 2] = {};
    DWORD bytes = sizeof(value);
    const bool written = RegGetValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, RRF_RT_REG_SZ, nullptr, value,
                                      &bytes) == ERROR_SUCCESS;
    EXPECT_EQ(written ? std::wstring(value) : L"", on ? StartCommand() : L"");
    Config saved;
    ASSERT_TRUE(LoadConfig(saved, path));
    EXPECT_EQ(saved.start_with_windows, on);
  }
  MSG msg;  // the wake-ups the commands posted
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  DeleteFileW(path.c_str());
  SetWakeWindow(nullptr);
  g_app = nullptr;
  app.overlay.reset();
  RendererShutdown();
}

}  // namespace

namespace {

// The tooltip names the source: the plugin's feed while it is shown, else
// the RPC connection's state (also one that changed meanwhile), in both
// languages; a rejected client id is told in a balloon once a run.
TEST(TrayTooltipTest, NamesTheSourceAndTellsARejectionOnce) {
  struct Step {
    VoiceSource source;
    RpcState state;
    const wchar_t* english;
    const wchar_t* japanese;
  };
  const Step steps[] = {
      {VoiceSource::Rpc, RpcState::Connected, L"Voxmere - Voice from Discord RPC",
       L"Voxmere - Discord RPC から音声を受信中"},
      {VoiceSource::Plugin, RpcState::Connected, L"Voxmere - Voice from the Tallybell plugin",
       L"Voxmere - Tallybell プラグインから音声を受信中"},
      {VoiceSource::Plugin, RpcState::Disconnected, L"Voxmere - Voice from the Tallybell plugin",
       L"Voxmere - Tallybell プラグインから音声を受信中"},
      {VoiceSource::None, RpcState::Disconnected, L"Voxmere - Waiting for Discord", L"Voxmere - Discord を待っています"},
      {VoiceSource::Rpc, RpcState::WaitingForConsent, L"Voxmere - Waiting for your consent in Discord",
       L"Voxmere - Discord での承認を待っています"},
      {VoiceSource::Rpc, RpcState::ClientIdRejected, L"Voxmere - Discord rejected the client id",
       L"Voxmere - Discord がクライアント ID を拒否しました"},
      {VoiceSource::Rpc, RpcState::ScopeRejected, L"Voxmere - Discord answered invalid_scope: use the Tallybell plugin",
       L"Voxmere - Discord が invalid_scope を返しました: Tallybell プラグインを使ってください"},
  };
  App app;
  g_app = &app;
  g_logPath = TestBinDirectory() + L"\\tray_tooltip_test.log";
  DeleteFileW(g_logPath.c_str());
  for (int language : {0, 1}) {
    g_language = language;
    for (const Step& step : steps) {
      ShowConnectionState(step.state);
      ShowVoiceSource(step.source);
      EXPECT_EQ(std::wstring(app.tray.data.szTip), language ? step.japanese : step.english) << step.english;
    }
  }
  // Shown or not (the test's desktop may have no notification area), the balloon is tried once per refusal.
  EXPECT_EQ(ReadLogLines(g_logPath, "Balloon").size(), 2u);
  g_logPath.clear();
  g_language = 0;
  g_app = nullptr;
}

}  // namespace

namespace {

// A wake-up whose post fails (here: the window is gone) leaves the next one
// free to post: the flag once stuck, and from then on nothing any thread
// did woke the loop until its safety timer.
TEST(WorkLoopWakeTest, AFailedPostDoesNotStopTheNextWake) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"VoxmereWakeTestClass";
  RegisterClassExW(&wc);
  auto messageWindow = [&] {
    return CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  };
  g_logPath = TestBinDirectory() + L"\\tray_test.log";
  DeleteFileW(g_logPath.c_str());
  HWND gone = messageWindow();
  DestroyWindow(gone);
  SetWakeWindow(gone);
  WakeWorkLoop();
  EXPECT_EQ(ReadLogLines(g_logPath, "ERROR: PostMessageW of the wake-up failed (1400)").size(), 1u);
  HWND window = messageWindow();
  ASSERT_NE(window, nullptr);
  SetWakeWindow(window);
  WakeWorkLoop();
  MSG msg;
  EXPECT_TRUE(PeekMessageW(&msg, window, WM_APP_WAKE, WM_APP_WAKE, PM_REMOVE)) << "the wake-up was not posted";
  SetWakeWindow(nullptr);
  DestroyWindow(window);
  g_logPath.clear();
}

}  // namespace
