// The tray: its menu for each state, the message window's commands driven
// in-process as the notification area drives them, and the icon file read
// by a running Voxmere.exe. Needs a display.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/config.h"
#include "app/log.h"
#include "app/text.h"
#include "app/tray.h"
#include "overlay/overlay_window.h"
#include "overlay/renderer.h"
#include "rpc/rpc_client.h"
#include "tests/support/child_process.h"
#include "tests/support/discord_sim_process.h"
#include "tests/support/voxmere_instance.h"
#include "ui/settings_window.h"

namespace {

struct MenuItem {
  UINT id;
  std::wstring text;  // empty for a separator
  bool greyed;
};

std::vector<MenuItem> ReadMenu(HMENU menu) {
  std::vector<MenuItem> items;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    wchar_t text[64] = {};
    GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
    UINT state = GetMenuState(menu, i, MF_BYPOSITION);
    UINT id = GetMenuItemID(menu, i);
    bool separator = (state & MF_SEPARATOR) != 0;  // reported greyed as well
    items.push_back({separator ? 0 : id, text, !separator && (state & MF_GRAYED) != 0});
  }
  return items;
}

VoiceUser Member(const wchar_t* id, const wchar_t* name) {
  VoiceUser user;
  user.id = id;
  user.displayName = name;
  return user;
}

// Each row: language, overlay visible, connected, the members, and the texts
// expected (a submenu's items after "|", checked ones marked "+").
TEST(TrayMenuTest, ItemsFollowOverlayConnectionLanguageAndMembers) {
  struct Row {
    int language;
    bool visible, connected;
    std::vector<VoiceUser> members;
    std::vector<std::wstring> texts;
  };
  const Row rows[] = {
      {0, true, false, {}, {L"Hide Overlay", L"Reconnect", L"Members|", L"", L"Settings...", L"", L"Exit"}},
      {0, false, true, {Member(L"1", L"Ann"), Member(L"2", L"Bob")},
       {L"Show Overlay", L"Connected", L"Members|+Ann|Bob", L"", L"Settings...", L"", L"Exit"}},
      {1, true, true, {Member(L"3", L"エリン")},
       {L"オーバーレイを隠す", L"接続済み", L"メンバー|+エリン", L"", L"設定...", L"", L"終了"}},
      {1, false, false, {}, {L"オーバーレイを表示", L"再接続", L"メンバー|", L"", L"設定...", L"", L"終了"}},
  };
  g_config.hidden_users = L"2";
  for (const Row& row : rows) {
    g_language = row.language;
    HMENU menu = BuildTrayMenu(row.visible, row.connected, row.members);
    ASSERT_NE(menu, nullptr);
    std::vector<MenuItem> items = ReadMenu(menu);
    ASSERT_EQ(items.size(), row.texts.size());
    for (size_t i = 0; i < items.size(); ++i) {
      std::wstring text = items[i].text;
      if (HMENU submenu = GetSubMenu(menu, static_cast<int>(i))) {
        text += L"|";
        for (int k = 0; k < GetMenuItemCount(submenu); ++k) {
          if (k > 0) text += L"|";
          if (GetMenuState(submenu, k, MF_BYPOSITION) & MF_CHECKED) text += L"+";
          text += ReadMenu(submenu)[k].text;
        }
        EXPECT_EQ(items[i].greyed, row.members.empty());
      } else {
        EXPECT_EQ(items[i].greyed, i == 1 && row.connected) << i;
      }
      EXPECT_EQ(text, row.texts[i]) << i;
    }
    DestroyMenu(menu);
  }
  g_language = 0;
  g_config = Config();
}

// A message-only window on TrayWndProc standing in for start-up's, with a
// real overlay and RPC client behind it.
class TrayWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(RendererInitialize()); }
  static void TearDownTestSuite() { RendererShutdown(); }

  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    g_logPath = std::wstring(temp) + L"voxmere_tray_" + std::to_wstring(GetCurrentProcessId()) + L".log";
    g_config = Config();
    g_language = 0;
    g_running = true;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = TrayWndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VoxmereTrayTestClass";
    RegisterClassExW(&wc);
    g_messageWindow = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      wc.hInstance, nullptr);
    ASSERT_NE(g_messageWindow, nullptr);
    g_trayIcon = {};
    g_trayIcon.cbSize = sizeof(g_trayIcon);
    g_overlay = std::make_unique<OverlayWindow>();
    ASSERT_TRUE(g_overlay->Create(GetModuleHandleW(nullptr)));
  }
  void TearDown() override {
    if (GetSettingsWindow()) DestroyWindow(GetSettingsWindow());
    g_overlay.reset();
    g_rpcClient.reset();
    DestroyWindow(g_messageWindow);
    g_messageWindow = nullptr;
    DrainQueue();
    g_running = true;
    DeleteFileW(g_logPath.c_str());
  }

  static LRESULT Tray(UINT mouseMessage) { return SendMessageW(g_messageWindow, WM_TRAYICON, 1, mouseMessage); }
  static LRESULT Command(UINT id) { return SendMessageW(g_messageWindow, WM_COMMAND, id, 0); }
  // Dispatches what is queued; the exit code of a quit message, or -1.
  static int DrainQueue() {
    int quit = -1;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) quit = static_cast<int>(msg.wParam);
      else DispatchMessageW(&msg);
    }
    return quit;
  }
};

TEST_F(TrayWindowTest, DoubleClickAndToggleCommandShowAndHideSingleClicksDoNothing) {
  ASSERT_TRUE(g_overlay->visible);
  EXPECT_EQ(Tray(WM_LBUTTONDBLCLK), 0);
  EXPECT_FALSE(g_overlay->visible);
  EXPECT_FALSE(IsWindowVisible(g_overlay->hwnd));
  for (UINT ignored : {WM_LBUTTONUP, WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_RBUTTONDOWN}) Tray(ignored);
  EXPECT_FALSE(g_overlay->visible);
  Command(MENU_TOGGLE_OVERLAY);
  EXPECT_TRUE(g_overlay->visible);
  EXPECT_TRUE(IsWindowVisible(g_overlay->hwnd));
  Command(9999);
  EXPECT_TRUE(g_overlay->visible);
}

// Waits for this process's popup menu, reads its items and chooses one
// with the keyboard, as a user would (by default the first).
class MenuChooser {
 public:
  explicit MenuChooser(std::vector<WPARAM> keys = {VK_DOWN, VK_RETURN})
      : thread_([this, keys] {
          HWND popup = nullptr;
          WaitFor([&] {
            while ((popup = FindWindowExW(nullptr, popup, L"#32768", nullptr)) != nullptr) {
              DWORD owner = 0;
              GetWindowThreadProcessId(popup, &owner);
              if (owner == GetCurrentProcessId() && IsWindowVisible(popup)) return true;
            }
            return false;
          }, 10000);
          if (!popup) return;
          items_ = ReadMenu(reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0)));
          for (WPARAM key : keys) {
            PostMessageW(popup, WM_KEYDOWN, key, 0);
            PostMessageW(popup, WM_KEYUP, key, 0);
          }
        }) {}
  ~MenuChooser() { Items(); }
  std::vector<MenuItem> Items() {
    if (thread_.joinable()) thread_.join();
    return items_;
  }

 private:
  std::vector<MenuItem> items_;
  std::thread thread_;
};

TEST_F(TrayWindowTest, RightClickWhileHiddenOffersShowOverlayAndChoosingItShowsIt) {
  Command(MENU_TOGGLE_OVERLAY);
  ASSERT_FALSE(g_overlay->visible);
  g_rpcClient = std::make_unique<RpcClient>();
  MenuChooser chooser;
  EXPECT_EQ(Tray(WM_RBUTTONUP), 0);
  std::vector<MenuItem> items = chooser.Items();
  ASSERT_EQ(items.size(), 7u);
  EXPECT_EQ(items[0].text + L"," + items[1].text, L"Show Overlay,Reconnect");
  EXPECT_FALSE(items[1].greyed);
  DrainQueue();
  EXPECT_TRUE(g_overlay->visible);
}

// Choosing a member in the submenu hides it and saves the list; choosing it
// again shows it.
TEST_F(TrayWindowTest, MembersSubmenuTogglesAndSavesTheHiddenId) {
  g_overlay->SetVoiceUsers({Member(L"100000000000000002", L"Bobby"), Member(L"100000000000000003", L"Carol")});
  const std::wstring path = GetConfigPath();
  for (const wchar_t* expected : {L"100000000000000002", L""}) {
    MenuChooser chooser({VK_DOWN, VK_DOWN, VK_DOWN, VK_RIGHT, VK_RETURN});
    Tray(WM_RBUTTONUP);
    chooser.Items();
    DrainQueue();
    EXPECT_EQ(g_config.hidden_users, expected);
    Config saved;
    ASSERT_TRUE(LoadConfig(saved, path));
    EXPECT_EQ(saved.hidden_users, expected);
  }
  DeleteFileW(path.c_str());
}

TEST_F(TrayWindowTest, SettingsTwiceGivesOneWindow) {
  Command(MENU_SETTINGS);
  HWND first = GetSettingsWindow();
  ASSERT_NE(first, nullptr);
  Command(MENU_SETTINGS);
  EXPECT_EQ(GetSettingsWindow(), first);
  int count = 0;
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"VoxmereSettings", nullptr)) != nullptr;) ++count;
  EXPECT_EQ(count, 1);
}

TEST_F(TrayWindowTest, ExitClearsTheRunningFlagAndQueuesQuitWithCodeZero) {
  EXPECT_EQ(Command(MENU_EXIT), 0);
  EXPECT_FALSE(g_running);
  EXPECT_EQ(DrainQueue(), 0);
}

TEST_F(TrayWindowTest, ReconnectUsesTheConfiguredSecretAndSetsTheTip) {
  lstrcpyW(g_trayIcon.szTip, L"Voxmere");
  Reconnect();  // no client yet: nothing changes
  EXPECT_STREQ(g_trayIcon.szTip, L"Voxmere");
  g_config.client_secret = L"configured-secret";
  g_rpcClient = std::make_unique<RpcClient>();
  Reconnect();  // no Discord client runs in this prefix
  EXPECT_EQ(g_rpcClient->clientSecret, L"configured-secret");
  EXPECT_FALSE(g_rpcClient->IsConnected());
  EXPECT_STREQ(g_trayIcon.szTip, L"Voxmere - Disconnected");

  ChildProcess sim;
  ASSERT_FALSE(StartDiscordSim(sim, L"--scenario default").empty());
  Reconnect();
  EXPECT_TRUE(g_rpcClient->IsConnected());
  EXPECT_STREQ(g_trayIcon.szTip, L"Voxmere - Connected");
  g_rpcClient.reset();
}

// An 8 x 8 opaque red PNG.
const char kRedPng[] =
    "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x08\x00\x00\x00\x08\x08\x06"
    "\x00\x00\x00\xc4\x0f\xbe\x8b\x00\x00\x00\x16\x49\x44\x41\x54\x18\xd3\x63\xfc\xcf\xc0\xf0\x9f\x01\x0f\x60"
    "\x62\x20\x00\x86\x87\x02\x00\x12\x5b\x02\x0e\x89\x1f\x28\x16\x00\x00\x00\x00\x49\x45\x4e\x44\xae\x42\x60"
    "\x82";

TEST(TrayIconFileTest, IconPngIsUsedWhenItIsAnImage) {
  struct Row {
    const char* name;
    std::string bytes;  // empty: no icon.png
    const char* logLine;
  };
  const Row rows[] = {
      {"valid", std::string(kRedPng, sizeof(kRedPng) - 1), "Custom icon loaded from: "},
      {"not an image", "this is no picture", "Custom icon not found, using default. Path tried: "},
      {"missing", "", "Custom icon not found, using default. Path tried: "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    VoxmereInstance voxmere(L"voxmere_tray_icon");
    ASSERT_TRUE(voxmere.Ready());
    ASSERT_TRUE(voxmere.WriteConfig(TestConfig()));
    if (!row.bytes.empty()) {
      ASSERT_TRUE(voxmere.WriteFile(L"icon.png", row.bytes));
    }
    ASSERT_TRUE(voxmere.Start());
    ASSERT_TRUE(voxmere.WaitLogged("Tray icon created"));
    EXPECT_EQ(voxmere.Log("Custom icon"), std::vector<std::string>{row.logLine + NarrowAscii(voxmere.PathOf(L"icon.png"))});
    EXPECT_EQ(voxmere.Exit(), 0);
  }
}

}  // namespace
