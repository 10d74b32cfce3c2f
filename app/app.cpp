#include "app/app.h"

#include <cstdlib>
#include <string>
#include <utility>

#include "app/autostart.h"
#include "app/browser_source_link.h"
#include "app/config.h"
#include "app/settings_store.h"
#include "app/http_endpoint.h"
#include "app/log.h"
#include "app/text.h"
#include "app/text_convert.h"
#include "app/tray.h"
#include "app/work_loop.h"
#include "notify/endpoint_file.h"
#include "notify/browser_source_server.h"
#include "notify/notification_server.h"
#include "overlay/overlay_window.h"
#include "overlay/renderer.h"
#include "rpc/rpc_client.h"
#include "ui/plugin_installer.h"

App* g_app = nullptr;

RendererRun::~RendererRun() {
  if (started) RendererShutdown();
}

// Declared before its members' types are whole; they are whole here.
App::App() = default;
App::~App() = default;

namespace {

std::wstring Num(long long n) { return std::to_wstring(n); }

int ChooseLanguage(const std::string& configured) {
  if (configured == "en") return 0;
  if (configured == "ja") return 1;
  return (GetUserDefaultUILanguage() & 0x3FF) == LANG_JAPANESE ? 1 : 0;
}

// True when another instance holds the mutex; then the user has been told.
bool AnotherInstanceRuns(App& app) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Voxmere_SingleInstance_Mutex");
  if (GetLastError() != ERROR_ALREADY_EXISTS) {
    app.singleInstance.Reset(mutex);
    return false;
  }
  CloseHandle(mutex);  // not ours to release
  MessageBoxW(nullptr, Text(kTextAlreadyRunning), Text(kTextAlreadyRunningCaption), MB_ICONINFORMATION);
  return true;
}

bool CreateMessageWindow(App& app, HINSTANCE instance) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = MessageWindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = L"VoxmereMessageClass";
  if (!RegisterClassExW(&wc)) {
    WriteLogLine(L"ERROR: Failed to register message window class");
    return false;
  }
  app.messageWindow.Reset(
      CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr));
  if (!app.messageWindow) {
    WriteLogLine(L"ERROR: Failed to create message window");
    return false;
  }
  WriteLogLine(L"Message window created");
  return true;
}

void CreateRpcClient(App& app) {
  app.rpc = std::make_unique<RpcClient>();
  RpcClient& rpc = *app.rpc;
  rpc.onWake = WakeWorkLoop;
  rpc.onVoiceUsers = TakeRpcVoiceUsers;
  rpc.onMessage = [&app](const std::wstring& sender, const std::wstring& text) {
    if (app.overlay) app.overlay->AddMessageNotification(sender, text);
  };
  rpc.onStateChanged = ShowConnectionState;
  rpc.onSpeaking = TakeRpcSpeaking;
  rpc.onSelfId = TakeRpcSelfId;
}

// VOXMERE_WEBSOCKET_PORT moves the plugin's endpoint, so that a test's
// plugin reaches its own Voxmere on a shared machine.
uint16_t NotificationWebSocketPort() {
  const char* value = std::getenv("VOXMERE_WEBSOCKET_PORT");
  if (!value) return kNotificationWebSocketPort;
  char* end = nullptr;
  const unsigned long port = std::strtoul(value, &end, 10);
  if (*value && !*end && port > 0 && port <= 65535) return static_cast<uint16_t>(port);
  WriteLogLine(L"ERROR: Ignoring malformed VOXMERE_WEBSOCKET_PORT=\"" + Utf8ToWide(value) + L"\", using " +
               std::to_wstring(kNotificationWebSocketPort));
  return kNotificationWebSocketPort;
}

// VOXMERE_ENDPOINT_FILE moves the endpoint file, so that tests sharing one
// user's roaming folder each keep their own.
std::wstring EndpointFilePath() {
  const wchar_t* value = _wgetenv(L"VOXMERE_ENDPOINT_FILE");
  if (value && *value) return value;
  return EndpointFilePathIn(GetRoamingAppDataFolder());
}

void StartNotificationServer(App& app) {
  app.endpointFile = std::make_unique<EndpointFile>(EndpointFilePath(), VOXMERE_VERSION);
  app.notifications = std::make_unique<NotificationServer>(kNotificationPipeName, NotificationWebSocketPort());
  NotificationServer& server = *app.notifications;
  EndpointFile& endpointFile = *app.endpointFile;
  server.SetListeningCallback([&endpointFile](uint16_t port) { endpointFile.Publish(port); });
  server.SetCallback([&app](const NotificationData& data) {
    if (app.overlay) app.overlay->AddNotification(OverlayNotification{data});
    PublishBrowserCard(data);
  });
  server.SetFeedCallback(TakeFeedDelivery);
  server.SetWakeCallback(WakeWorkLoop);
  if (server.Start())
    WriteLogLine(L"Notification server started on \\\\.\\pipe\\VoxmereNotifications");
  else
    WriteLogLine(L"ERROR: Failed to start notification server");
}

// A mistyped override falls back to Discord's own host; say so, or the token
// request goes there unnoticed.
void LogMalformedHttpOverrides() {
  const std::pair<const char*, const wchar_t*> overrides[] = {{"VOXMERE_API_BASE", kDiscordApiHost},
                                                              {"VOXMERE_CDN_BASE", kDiscordCdnHost}};
  for (const auto& [name, host] : overrides) {
    const char* value = std::getenv(name);
    if (value && !ParseHttpBase(value))
      WriteLogLine(L"ERROR: Ignoring malformed " + Utf8ToWide(name) + L"=\"" + Utf8ToWide(value) +
                   L"\", using " + host);
  }
}

// What LoadConfig logs is held until the log begins.
bool LoadSettings() {
  Config loaded;
  const bool read = LoadConfig(loaded, GetConfigPath());
  g_settings.Replace(loaded);
  return read;
}

// Start-up up to the message loop; false when the program cannot run (the
// user has been told).
bool Start(App& app, HINSTANCE instance, int* exitCode) {
  const bool configLoaded = LoadSettings();
  const Config& settings = g_settings.Committed();
  g_language = ChooseLanguage(settings.language);

  // Checked before the log is restarted, so a second start leaves the
  // running instance's debug.log alone.
  *exitCode = 0;
  if (!settings.allow_multi_instance && AnotherInstanceRuns(app)) return false;

  BeginLog(GetExeDirectory() + L"\\debug.log", L"=== Voxmere Started ===");
  WriteLogLine(L"Config loaded: " + Num(configLoaded ? 1 : 0));
  WriteLogLine(L"Monitor: " + Num(settings.monitor));
  WriteLogLine(L"Allow multi-instance: " + Num(settings.allow_multi_instance ? 1 : 0));
  WriteLogLine(L"Language: " + Num(g_language));
  // A folder the user moved since: the Run value still names the old place.
  if (settings.start_with_windows) ApplyStartWithWindows(true);

  *exitCode = 1;
  app.renderer.started = RendererInitialize();
  if (!app.renderer.started) {
    WriteLogLine(L"ERROR: Failed to initialize GDI+");
    MessageBoxW(nullptr, Text(kTextGdiplusFailed), Text(kTextError), MB_ICONERROR);
    return false;
  }
  WriteLogLine(L"GDI+ initialized");

  if (!CreateMessageWindow(app, instance)) return false;
  SetWakeWindow(app.messageWindow.Get());
  g_settings.onChanged = TakeSettingsChange;
  app.tray.Create(app.messageWindow.Get());
  WriteLogLine(L"Tray icon created");

  // Made before the overlay, so that it goes after it.
  CreateRpcClient(app);
  app.overlay = std::make_unique<OverlayWindow>(GetRenderer());
  if (!app.overlay->Create(instance)) {
    WriteLogLine(L"ERROR: Failed to create overlay window");
    MessageBoxW(nullptr, Text(kTextOverlayFailed), Text(kTextError), MB_ICONERROR);
    return false;
  }
  WriteLogLine(L"Overlay window created");
  GetRenderer().avatars.onFinished = WakeWorkLoop;
  const OverlayWindow& overlay = *app.overlay;
  WriteLogLine(L"Screen: X=" + Num(overlay.x) + L" Y=" + Num(overlay.y) + L" W=" + Num(overlay.width) + L" H=" +
               Num(overlay.height));

  LogMalformedHttpOverrides();
  StartNotificationServer(app);

  StartWorkSources(app.messageWindow.Get());
  StartVoiceSources(IsPluginEnabled(GetRoamingAppDataFolder()));
  // Connected and scheduled before the plugin check: a notice the user leaves
  // open keeps its own message loop, which runs the work too.
  Reconnect();
  RunDueWork();
  WriteLogLine(L"Checking BetterDiscord installation...");
  // Put off until the first pass is done, which needs neither: the browser
  // source's server, and the fonts (ready before the first name or card).
  ApplyBrowserSourceSetting();
  GetRenderer().text.OpenDeferred();
  CheckPluginInstallation(app.messageWindow.Get());
  *exitCode = 0;
  return true;
}

// Nothing that outlives the application reaches into it.
void Detach() {
  g_settings.onChanged = nullptr;
  SetWakeWindow(nullptr);
  g_app = nullptr;
}

}  // namespace

int RunVoxmere(HINSTANCE instance) {
  int exitCode = 0;
  {
    App app;
    g_app = &app;
    if (Start(app, instance, &exitCode) && app.running) RunMessageLoop();
    Detach();
  }
  return exitCode;
}
