// The notification-area icon, its menu, and Reconnect, all handled by the
// hidden message-only window.
#pragma once

#include <windows.h>
#include <shellapi.h>

constexpr UINT WM_TRAYICON = WM_USER + 1;

constexpr UINT MENU_TOGGLE_OVERLAY = 1001;
constexpr UINT MENU_RECONNECT = 1002;
constexpr UINT MENU_SETTINGS = 1003;
constexpr UINT MENU_EXIT = 1004;

extern NOTIFYICONDATAW g_trayIcon;
extern HICON g_customIcon;

void CreateTrayIcon();
LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void ShowTrayMenu(HWND window);
// The popup menu for the given state; the caller destroys it.
HMENU BuildTrayMenu(bool overlayVisible, bool connected);
void Reconnect();
