// The tray: its menu for each state and the message window's commands driven
// in-process as the notification area drives them. Needs a display.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/config.h"
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
    bool visible, connected;
    std::vector<VoiceUser> members;
    const wchar_t* text;
  };
  const Row rows[] = {
      {0, true, false, {}, L"Hide Overlay|Reconnect|~Members[]||Settings...||Exit"},
      {0, false, true, {Member("1", L"Ann"), Member("2", L"Bob")},
       L"Show Overlay|~Connected|Members[+Ann|Bob]||Settings...||Exit"},
      {1, true, true, {Member("3", L"エリン")}, L"オーバーレイを隠す|~接続済み|メンバー[+エリン]||設定...||終了"},
      {1, false, false, {}, L"オーバーレイを表示|再接続|~メンバー[]||設定...||終了"},
  };
  g_config.hidden_users = L"2";
  for (const Row& row : rows) {
    g_language = row.language;
    HMENU menu = BuildTrayMenu(row.visible, row.connected, row.members);
    EXPECT_EQ(MenuText(menu), row.text);
    DestroyMenu(menu);
  }
  g_language = 0;
  g_config = Config();
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
  g_messageWindow = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  g_overlay = std::make_unique<OverlayWindow>();
  ASSERT_TRUE(g_messageWindow && g_overlay->Create(wc.hInstance));
  g_overlay->SetVoiceUsers({Member("100000000000000002", L"Bobby"), Member("100000000000000003", L"Carol")});
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
    SendMessageW(g_messageWindow, WM_TRAYICON, 1, WM_RBUTTONUP);
    chooser.join();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    EXPECT_EQ(g_config.hidden_users, expected);
    Config saved;
    ASSERT_TRUE(LoadConfig(saved, path));
    EXPECT_EQ(saved.hidden_users, expected);
  }
  DeleteFileW(path.c_str());
  g_overlay.reset();
  DestroyWindow(g_messageWindow);
  RendererShutdown();
}

}  // namespace

namespace {

// The tooltip names the source: the plugin's feed while it is shown, else
// the RPC connection's state (also one that changed meanwhile), in both languages.
TEST(TrayTooltipTest, NamesTheSource) {
  struct Step {
    bool plugin;  // else the RPC state is shown
    RpcState state;
    const wchar_t* english;
  };
  const Step steps[] = {
      {false, RpcState::Connected, L"Voxmere - Voice from Discord RPC"},
      {true, RpcState::Connected, L"Voxmere - Voice from the Tallybell plugin"},
      {true, RpcState::Disconnected, L"Voxmere - Voice from the Tallybell plugin"},
      {false, RpcState::Disconnected, L"Voxmere - Waiting for Discord"},
  };
  for (int language : {0, 1}) {
    g_language = language;
    for (const Step& step : steps) {
      ShowConnectionState(step.state);
      ShowVoiceSource(step.plugin ? VoiceSource::Plugin : VoiceSource::Rpc);
      const TextEntry& expected = TextTable(step.plugin ? kTextTipVoiceFromPlugin
                                            : step.state == RpcState::Connected ? kTextTipConnected
                                                                                : kTextTipWaitingForDiscord);
      EXPECT_EQ(std::wstring(expected.english), step.english);
      EXPECT_EQ(std::wstring(g_trayIcon.szTip), language ? expected.japanese : expected.english) << step.english;
    }
  }
  g_language = 0;
}

}  // namespace
