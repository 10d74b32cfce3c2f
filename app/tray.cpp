#include "app/tray.h"

#include <memory>

#include "app/app.h"
#include "app/autostart.h"
#include "app/browser_source_link.h"
#include "app/config.h"
#include "app/settings_store.h"
#include "app/log.h"
#include "app/text.h"
#include "app/text_convert.h"
#include "app/work_loop.h"
#include "overlay/gdiplus_headers.h"
#include "overlay/overlay_window.h"
#include "rpc/rpc_client.h"
#include "ui/settings_window.h"

namespace {

HMENU BuildMembersMenu(const std::vector<VoiceUser>& members) {
  HMENU submenu = CreatePopupMenu();
  if (!submenu) return nullptr;
  const std::wstring hiddenUsers = g_settings.Effective().hidden_users;
  for (size_t i = 0; i < members.size() && i < MENU_MEMBER_LIMIT; ++i) {
    UINT check = IdListContains(hiddenUsers, Utf8ToWide(members[i].id)) ? MF_UNCHECKED : MF_CHECKED;
    AppendMenuW(submenu, MF_STRING | check, MENU_MEMBER_FIRST + i, ShownName(members[i]).c_str());
  }
  return submenu;
}

void SetTip(NOTIFYICONDATAW& data, const wchar_t* text) { lstrcpynW(data.szTip, text, ARRAYSIZE(data.szTip)); }

TextId TipFor(RpcState state) {
  if (g_app->tray.voiceSource == VoiceSource::Plugin) return kTextTipVoiceFromPlugin;
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
  if (g_app->overlay) g_app->overlay->Toggle();
}

void ToggleStartWithWindows() {
  g_settings.Change([](Config& settings) { settings.start_with_windows = !settings.start_with_windows; });
  ApplyStartWithWindows(g_settings.Committed().start_with_windows);
  SaveConfig(g_settings.Committed(), GetConfigPath());
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

void TrayIcon::Create(HWND window) {
  data.cbSize = sizeof(data);
  data.hWnd = window;
  data.uID = 1;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = WM_TRAYICON;

  std::wstring path = GetExeDirectory() + L"\\icon.png";
  customIcon.Reset(LoadPngIcon(path));
  if (customIcon) {
    data.hIcon = customIcon.Get();
    WriteLogLine(L"Custom icon loaded from: " + path);
  } else {
    data.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    WriteLogLine(L"Custom icon not found, using default. Path tried: " + path);
  }
  SetTip(data, Text(kTextTrayTitle));
  added = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

// Before the custom icon it shows goes.
TrayIcon::~TrayIcon() {
  if (added) Shell_NotifyIconW(NIM_DELETE, &data);
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
        case MENU_SETTINGS: g_app->settingsWindow.Show(window, GetConfigPath()); break;
        case MENU_START_WITH_WINDOWS: ToggleStartWithWindows(); break;
        case MENU_COPY_BROWSER_URL: CopyBrowserSourceUrl(window); break;
        case MENU_EXIT:
          g_app->running = false;
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
  AppendMenuW(menu, MF_STRING | (g_settings.Committed().start_with_windows ? MF_CHECKED : MF_UNCHECKED), MENU_START_WITH_WINDOWS,
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
  std::vector<VoiceUser> members = g_app->overlay ? g_app->overlay->state.users : std::vector<VoiceUser>{};
  HMENU menu = BuildTrayMenu(g_app->overlay && g_app->overlay->visible,
                             g_app->rpc && g_app->rpc->State() == RpcState::Connected, members,
                             !BrowserSourceUrl().empty());
  if (!menu) return;
  g_app->tray.menuMemberIds.clear();
  for (const VoiceUser& member : members) g_app->tray.menuMemberIds.push_back(Utf8ToWide(member.id));
  SetForegroundWindow(window);
  TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
  DestroyMenu(menu);
}

void ToggleMemberShown(UINT command) {
  if (command < MENU_MEMBER_FIRST || command - MENU_MEMBER_FIRST >= g_app->tray.menuMemberIds.size()) return;
  const std::wstring& id = g_app->tray.menuMemberIds[command - MENU_MEMBER_FIRST];
  g_settings.Change([&id](Config& settings) { settings.hidden_users = ToggleIdInList(settings.hidden_users, id); });
  bool hidden = IdListContains(g_settings.Committed().hidden_users, id);
  WriteLogLine(std::wstring(L"[Tray] ") + (hidden ? L"Hiding member " : L"Showing member ") + id);
  if (!SaveConfig(g_settings.Committed(), GetConfigPath())) WriteLogLine(L"[Tray] ERROR: Could not save the member list");
}

namespace {

// The tooltip for the state and source known; with a title, a balloon too.
void UpdateIcon(const std::wstring& balloonTitle = {}, const std::wstring& balloonText = {},
                DWORD balloonIcon = NIIF_INFO) {
  NOTIFYICONDATAW& data = g_app->tray.data;
  SetTip(data, Text(TipFor(g_app->tray.rpcState)));
  const bool tell = !balloonTitle.empty();
  if (tell) {
    data.uFlags |= NIF_INFO;
    data.dwInfoFlags = balloonIcon;
    lstrcpynW(data.szInfoTitle, balloonTitle.c_str(), ARRAYSIZE(data.szInfoTitle));
    lstrcpynW(data.szInfo, balloonText.c_str(), ARRAYSIZE(data.szInfo));
  }
  const bool shown = Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
  if (tell)
    WriteLogLine(std::wstring(L"[Tray] ") + (shown ? L"Balloon shown: " : L"ERROR: Balloon not shown: ") +
                 balloonTitle);
  data.uFlags &= ~NIF_INFO;  // one balloon, not one per tooltip change
}

}  // namespace

void ShowConnectionState(RpcState state) {
  TrayIcon& tray = g_app->tray;
  tray.rpcState = state;
  const bool clientId = state == RpcState::ClientIdRejected, scope = state == RpcState::ScopeRejected;
  bool* told = clientId ? &tray.clientIdRejectionTold : scope ? &tray.scopeRejectionTold : nullptr;
  if (!told || *told) return UpdateIcon();
  *told = true;
  UpdateIcon(Text(clientId ? kTextClientIdRejectedTitle : kTextScopeRejectedTitle),
             Text(clientId ? kTextClientIdRejectedBalloon : kTextScopeRejectedBalloon), NIIF_WARNING);
}

void ShowVoiceSource(VoiceSource source) {
  if (source == g_app->tray.voiceSource) return;
  g_app->tray.voiceSource = source;
  WriteLogLine(std::wstring(L"[Tray] Voice source: ") +
               (source == VoiceSource::Plugin ? L"the Tallybell plugin" : source == VoiceSource::Rpc ? L"Discord RPC" : L"none"));
  UpdateIcon();
}

void TellTwoWays() { UpdateIcon(Text(kTextTwoWaysTitle), Text(kTextTwoWaysBalloon)); }

void ShowTrayBalloon(const std::wstring& title, const std::wstring& text) { UpdateIcon(title, text, NIIF_WARNING); }
