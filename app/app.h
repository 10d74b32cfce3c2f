// The application object: everything start-up makes, in the order it makes
// it, released in reverse as its members go. The tray, the work loop and the
// settings window reach it through g_app, which is set for the run.
#pragma once

#include <windows.h>

#include <memory>

#include "app/tray.h"
#include "app/win_handles.h"
#include "app/work_loop.h"
#include "ui/settings_window.h"

class BrowserSourceServer;
class EndpointFile;
class NotificationServer;
class OverlayWindow;
class RpcClient;

// GDI+ and the renderer's surfaces, stopped when the application goes.
struct RendererRun {
  RendererRun() = default;
  ~RendererRun();
  RendererRun(const RendererRun&) = delete;
  RendererRun& operator=(const RendererRun&) = delete;
  bool started = false;
};

struct App {
  App();
  ~App();
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  HeldMutex singleInstance;  // unless several instances are allowed
  RendererRun renderer;
  WindowHandle messageWindow;  // message-only: the tray's and the work loop's
  TrayIcon tray;
  std::unique_ptr<RpcClient> rpc;
  std::unique_ptr<OverlayWindow> overlay;
  // Outlives the server, whose listener thread publishes through it.
  std::unique_ptr<EndpointFile> endpointFile;
  std::unique_ptr<NotificationServer> notifications;
  std::unique_ptr<BrowserSourceServer> browserSource;  // while its pages are on
  WorkLoop work;
  VoiceSources voice;
  SettingsWindow settingsWindow;
  bool running = true;  // cleared by the Exit command
};

extern App* g_app;

// Start-up, main loop and shutdown; returns the process exit code.
int RunVoxmere(HINSTANCE instance);
