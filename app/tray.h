// The notification-area icon and its menu; the message-only window (the
// work loop's) hands their messages here.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/voice_source.h"
#include "app/win_handles.h"
#include "rpc/rpc_client.h"
#include "app/voice_user.h"


constexpr UINT WM_TRAYICON = WM_USER + 1;

constexpr UINT MENU_TOGGLE_OVERLAY = 1001;
constexpr UINT MENU_RECONNECT = 1002;
constexpr UINT MENU_SETTINGS = 1003;
constexpr UINT MENU_EXIT = 1004;
constexpr UINT MENU_START_WITH_WINDOWS = 1005;
constexpr UINT MENU_COPY_BROWSER_URL = 1006;
// The "Members" submenu: one item per member, in list order.
constexpr UINT MENU_MEMBER_FIRST = 1100;
constexpr UINT MENU_MEMBER_LIMIT = 100;

// The notification-area icon, removed when the object goes, and what the
// tooltip, balloons and menu remember for the run.
struct TrayIcon {
  TrayIcon() = default;
  ~TrayIcon();
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Adds the icon for the window: icon.png beside the program, else the system's.
  void Create(HWND window);

  IconHandle customIcon;  // from icon.png
  NOTIFYICONDATAW data = {};
  bool added = false;
  // The ids behind the "Members" items of the menu last shown: the channel
  // may change between the choice and its command.
  std::vector<std::wstring> menuMemberIds;
  // Each refusal only the user can mend is told once per run.
  bool clientIdRejectionTold = false;
  bool scopeRejectionTold = false;
  RpcState rpcState = RpcState::Disconnected;
  VoiceSource voiceSource = VoiceSource::None;
};

// The icon's notifications and the menu's commands; true when handled.
bool HandleTrayMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void ShowTrayMenu(HWND window);
// The popup menu for the given state; members fill the "Members" submenu,
// checked unless the settings' hidden_users names them; the browser source's item
// is greyed while its pages are off. The caller destroys it.
HMENU BuildTrayMenu(bool overlayVisible, bool connected, const std::vector<VoiceUser>& members = {},
                    bool browserSourceOn = false);
// A "Members" item chosen: hides or shows that member and saves config.json.
void ToggleMemberShown(UINT command);
// The connection's state in the tooltip; the first time Discord rejects the
// client id, a balloon also tells the user where to set it.
void ShowConnectionState(RpcState state);
// A warning balloon from the tray icon, and a log line saying whether it showed.
void ShowTrayBalloon(const std::wstring& title, const std::wstring& text);
// The source of the members shown: the plugin's feed names itself in the
// tooltip, otherwise the connection's state stands there.
void ShowVoiceSource(VoiceSource source);
// Once a run, when neither the plugin nor a registered application can show
// the voice channel: a balloon naming the two ways.
void TellTwoWays();
