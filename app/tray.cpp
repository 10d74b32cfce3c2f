#include "app/tray.h"

#include <memory>

#include "app/app.h"
#include "app/autostart.h"
#include "app/browser_source_link.h"
#include "app/config.h"
#include "app/log.h"
#include "app/text.h"
#include "app/text_convert.h"
#include "app/work_loop.h"
#include "overlay/gdiplus_headers.h"
#include "overlay/overlay_window.h"
#include "rpc/rpc_client.h"
#include "ui/settings_window.h"

NOTIFYICONDATAW g_trayIcon = {};
HICON g_customIcon = nullptr;

namespace {

// The ids behind the "Members" items of the menu last shown: the channel may
// change between the choice and its command.
std::vector<std::wstring> g_menuMemberIds;

HMENU BuildMembersMenu(const std::vector<VoiceUser>& members) {
  HMENU submenu = CreatePopupMenu();
  if (!submenu) return nullptr;
  for (size_t i = 0; i < members.size() && i < MENU_MEMBER_LIMIT; ++i) {
    UINT check = IdListContains(g_config.hidden_users, Utf8ToWide(members[i].id)) ? MF_UNCHECKED : MF_CHECKED;
    AppendMenuW(submenu, MF_STRING | check, MENU_MEMBER_FIRST + i, ShownName(members[i]).c_str());
  }
  return submenu;
}

void SetTip(const wchar_t* text) { lstrcpynW(g_trayIcon.szTip, text, ARRAYSIZE(g_trayIcon.szTip)); }

// Each refusal only the user can mend is told once per run.
bool g_clientIdRejectionTold = false;
bool g_scopeRejectionTold = false;
RpcState g_rpcState = RpcState::Disconnected;
VoiceSource g_voiceSource = VoiceSource::None;

TextId TipFor(RpcState state) {
  if (g_voiceSource == VoiceSource::Plugin) return kTextTipVoiceFromPlugin;
  switch (state) {
    case RpcState::Connected: return kTextTipConnected;
    case RpcState::WaitingForConsent: return kTextTipWaitingForConsent;
    case RpcState::ClientIdRejected: return kTextTipClientIdRejected;
    case RpcState::ScopeRejected: return kTextTipScopeRejected;
    case RpcState::NotAuthorized: return kTextTipNotAuthorized;
    default: return kTextTipWaitingForDiscord;
  }
}

HICON LoadPngIcon(const std::wstring& path) {
  Gdiplus::Bitmap source(path.c_str());
  if (source.GetLastStatus() != Gdiplus::Ok) return nullptr;
  Gdiplus::Bitmap scaled(32, 32, PixelFormat32bppARGB);
  {
    Gdiplus::Graphics graphics(&scaled);
    graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    graphics.DrawImage(&source, 0, 0, 32, 32);
  }
  HICON icon = nullptr;
  if (scaled.GetHICON(&icon) != Gdiplus::Ok) return nullptr;
  return icon;
}

void ToggleOverlay() {
  if (g_overlay) g_overlay->Toggle();
}

void ToggleStartWithWindows() {
  g_config.start_with_windows = !g_config.start_with_windows;
  ApplyStartWithWindows(g_config.start_with_windows);
  SaveConfig(g_config, GetConfigPath());
}

// For OBS's Browser Source: the voice page's address on the clipboard.
void CopyBrowserSourceUrl(HWND window) {
  const std::wstring url = BrowserSourceUrl();
  if (url.empty()) return;
  const size_t bytes = (url.size() + 1) * sizeof(wchar_t);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
  void* data = block ? GlobalLock(block) : nullptr;
  if (!data) {
    if (block) GlobalFree(block);
    WriteLogLine(L"[Tray] ERROR: No memory for the browser source URL");
    return;
  }
  memcpy(data, url.c_str(), bytes);
  GlobalUnlock(block);
  if (!OpenClipboard(window)) {
    GlobalFree(block);
    WriteLogLine(L"[Tray] ERROR: OpenClipboard failed (" + std::to_wstring(GetLastError()) + L")");
    return;
  }
  EmptyClipboard();
  // The clipboard owns the block once it takes it.
  const bool taken = SetClipboardData(CF_UNICODETEXT, block) != nullptr;
  if (!taken) GlobalFree(block);
  CloseClipboard();
  WriteLogLine(taken ? L"[Tray] Browser source URL copied: " + url
                     : L"[Tray] ERROR: SetClipboardData failed (" + std::to_wstring(GetLastError()) + L")");
}

}  // namespace

void CreateTrayIcon() {
  g_trayIcon.cbSize = sizeof(g_trayIcon);
  g_trayIcon.hWnd = g_messageWindow;
  g_trayIcon.uID = 1;
  g_trayIcon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  g_trayIcon.uCallbackMessage = WM_TRAYICON;

  std::wstring path = GetExeDirectory() + L"\\icon.png";
  g_customIcon = LoadPngIcon(path);
  if (g_customIcon) {
    g_trayIcon.hIcon = g_customIcon;
    WriteLogLine(L"Custom icon loaded from: " + path);
  } else {
    g_trayIcon.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    WriteLogLine(L"Custom icon not found, using default. Path tried: " + path);
  }
  SetTip(Text(kTextTrayTitle));
  Shell_NotifyIconW(NIM_ADD, &g_trayIcon);
}

bool HandleTrayMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TRAYICON:
      if (lParam == WM_RBUTTONUP) ShowTrayMenu(window);
      else if (lParam == WM_LBUTTONDBLCLK) ToggleOverlay();
      return true;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case MENU_TOGGLE_OVERLAY: ToggleOverlay(); break;
        case MENU_RECONNECT: Reconnect(); break;
        case MENU_SETTINGS: ShowSettingsWindow(g_messageWindow); break;
        case MENU_START_WITH_WINDOWS: ToggleStartWithWindows(); break;
        case MENU_COPY_BROWSER_URL: CopyBrowserSourceUrl(window); break;
        case MENU_EXIT:
          g_running = false;
          EndMenu();  // a menu's own loop would outlive the quit message
          PostQuitMessage(0);
          break;
        default: ToggleMemberShown(LOWORD(wParam)); break;
      }
      return true;
    default:
      return false;
  }
}

HMENU BuildTrayMenu(bool overlayVisible, bool connected, const std::vector<VoiceUser>& members,
                    bool browserSourceOn) {
  HMENU menu = CreatePopupMenu();
  if (!menu) return nullptr;
  AppendMenuW(menu, MF_STRING, MENU_TOGGLE_OVERLAY, Text(overlayVisible ? kTextHideOverlay : kTextShowOverlay));
  if (connected)
    AppendMenuW(menu, MF_STRING | MF_GRAYED, MENU_RECONNECT, Text(kTextConnected));
  else
    AppendMenuW(menu, MF_STRING, MENU_RECONNECT, Text(kTextReconnect));
  // Owned by the menu once appended; destroyed with it.
  if (HMENU submenu = BuildMembersMenu(members))
    AppendMenuW(menu, MF_POPUP | (members.empty() ? MF_GRAYED : 0u), reinterpret_cast<UINT_PTR>(submenu),
                Text(kTextMembersMenu));
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, MENU_SETTINGS, Text(kTextSettingsMenu));
  AppendMenuW(menu, MF_STRING | (g_config.start_with_windows ? MF_CHECKED : MF_UNCHECKED), MENU_START_WITH_WINDOWS,
              Text(kTextStartWithWindows));
  AppendMenuW(menu, MF_STRING | (browserSourceOn ? 0u : MF_GRAYED), MENU_COPY_BROWSER_URL,
              Text(kTextCopyBrowserSourceUrl));
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, MENU_EXIT, Text(kTextExit));
  return menu;
}

void ShowTrayMenu(HWND window) {
  POINT cursor = {};
  GetCursorPos(&cursor);
  std::vector<VoiceUser> members = g_overlay ? g_overlay->state.users : std::vector<VoiceUser>{};
  HMENU menu = BuildTrayMenu(g_overlay && g_overlay->visible,
                             g_rpcClient && g_rpcClient->State() == RpcState::Connected, members,
                             !BrowserSourceUrl().empty());
  if (!menu) return;
  g_menuMemberIds.clear();
  for (const VoiceUser& member : members) g_menuMemberIds.push_back(Utf8ToWide(member.id));
  SetForegroundWindow(window);
  TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
  DestroyMenu(menu);
}

void ToggleMemberShown(UINT command) {
  if (command < MENU_MEMBER_FIRST || command - MENU_MEMBER_FIRST >= g_menuMemberIds.size()) return;
  const std::wstring& id = g_menuMemberIds[command - MENU_MEMBER_FIRST];
  g_config.hidden_users = ToggleIdInList(g_config.hidden_users, id);
  bool hidden = IdListContains(g_config.hidden_users, id);
  WriteLogLine(std::wstring(L"[Tray] ") + (hidden ? L"Hiding member " : L"Showing member ") + id);
  if (!SaveConfig(g_config, GetConfigPath())) WriteLogLine(L"[Tray] ERROR: Could not save the member list");
  if (g_overlay) g_overlay->stateChanged = true;
}

namespace {

// The tooltip for the state and source known; with a title, a balloon too.
void UpdateIcon(const std::wstring& balloonTitle = {}, const std::wstring& balloonText = {},
                DWORD balloonIcon = NIIF_INFO) {
  SetTip(Text(TipFor(g_rpcState)));
  const bool tell = !balloonTitle.empty();
  if (tell) {
    g_trayIcon.uFlags |= NIF_INFO;
    g_trayIcon.dwInfoFlags = balloonIcon;
    lstrcpynW(g_trayIcon.szInfoTitle, balloonTitle.c_str(), ARRAYSIZE(g_trayIcon.szInfoTitle));
    lstrcpynW(g_trayIcon.szInfo, balloonText.c_str(), ARRAYSIZE(g_trayIcon.szInfo));
  }
  const bool shown = Shell_NotifyIconW(NIM_MODIFY, &g_trayIcon) != FALSE;
  if (tell)
    WriteLogLine(std::wstring(L"[Tray] ") + (shown ? L"Balloon shown: " : L"ERROR: Balloon not shown: ") +
                 balloonTitle);
  g_trayIcon.uFlags &= ~NIF_INFO;  // one balloon, not one per tooltip change
}

}  // namespace

void ShowConnectionState(RpcState state) {
  g_rpcState = state;
  const bool clientId = state == RpcState::ClientIdRejected, scope = state == RpcState::ScopeRejected;
  bool* told = clientId ? &g_clientIdRejectionTold : scope ? &g_scopeRejectionTold : nullptr;
  if (!told || *told) return UpdateIcon();
  *told = true;
  UpdateIcon(Text(clientId ? kTextClientIdRejectedTitle : kTextScopeRejectedTitle),
             Text(clientId ? kTextClientIdRejectedBalloon : kTextScopeRejectedBalloon), NIIF_WARNING);
}

void ShowVoiceSource(VoiceSource source) {
  if (source == g_voiceSource) return;
  g_voiceSource = source;
  WriteLogLine(std::wstring(L"[Tray] Voice source: ") +
               (source == VoiceSource::Plugin ? L"the Tallybell plugin" : source == VoiceSource::Rpc ? L"Discord RPC" : L"none"));
  UpdateIcon();
}

void TellTwoWays() { UpdateIcon(Text(kTextTwoWaysTitle), Text(kTextTwoWaysBalloon)); }

void ShowTrayBalloon(const std::wstring& title, const std::wstring& text) { UpdateIcon(title, text, NIIF_WARNING); }
