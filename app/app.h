// The process-wide objects that start-up creates and the tray code uses.
// Every user tests the pointers for null first.
#pragma once

#include <windows.h>

#include <memory>

class OverlayWindow;
class RpcClient;
class NotificationServer;

extern bool g_running;
extern HANDLE g_singleInstanceMutex;
extern HWND g_messageWindow;
extern std::unique_ptr<OverlayWindow> g_overlay;
extern std::unique_ptr<RpcClient> g_rpcClient;
extern std::unique_ptr<NotificationServer> g_notificationServer;

// Start-up, main loop and shutdown; returns the process exit code.
int RunVoxmere(HINSTANCE instance);
