#include "app/app.h"

#include <cstdlib>
#include <string>
#include <utility>

#include "app/autostart.h"
#include "app/browser_source_link.h"
#include "app/config.h"
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

bool g_running = true;
HANDLE g_singleInstanceMutex = nullptr;
HWND g_messageWindow = nullptr;
std::unique_ptr<OverlayWindow> g_overlay;
std::unique_ptr<RpcClient> g_rpcClient;
std::unique_ptr<NotificationServer> g_notificationServer;
// Outlives the server, whose listener thread publishes through it.
std::unique_ptr<EndpointFile> g_endpointFile;

namespace {

std::wstring Num(long long n) { return std::to_wstring(n); }

int ChooseLanguage(const std::string& configured) {
  if (configured == "en") return 0;
  if (configured == "ja") return 1;
  return (GetUserDefaultUILanguage() & 0x3FF) == LANG_JAPANESE ? 1 : 0;
}

// True when another instance holds the mutex; then the user has been told.
bool AnotherInstanceRuns() {
  g_singleInstanceMutex = CreateMutexW(nullptr, TRUE, L"Voxmere_SingleInstance_Mutex");
  if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  CloseHandle(g_singleInstanceMutex);
  g_singleInstanceMutex = nullptr;
  MessageBoxW(nullptr, Text(kTextAlreadyRunning), Text(kTextAlreadyRunningCaption), MB_ICONINFORMATION);
  return true;
}

bool CreateMessageWindow(HINSTANCE instance) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = MessageWindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = L"VoxmereMessageClass";
  if (!RegisterClassExW(&wc)) {
    WriteLogLine(L"ERROR: Failed to register message window class");
    return false;
  }
  g_messageWindow = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                                    nullptr);
  if (!g_messageWindow) {
    WriteLogLine(L"ERROR: Failed to create message window");
    return false;
  }
  WriteLogLine(L"Message window created");
  return true;
}

void CreateRpcClient() {
  g_rpcClient = std::make_unique<RpcClient>();
  g_rpcClient->onWake = WakeWorkLoop;
  g_rpcClient->onVoiceUsers = TakeRpcVoiceUsers;
  g_rpcClient->onMessage = [](const std::wstring& sender, const std::wstring& text) {
    if (g_overlay) g_overlay->AddMessageNotification(sender, text);
  };
  g_rpcClient->onStateChanged = ShowConnectionState;
  g_rpcClient->onSpeaking = TakeRpcSpeaking;
  g_rpcClient->onSelfId = TakeRpcSelfId;
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

void StartNotificationServer() {
  g_endpointFile = std::make_unique<EndpointFile>(EndpointFilePath(), VOXMERE_VERSION);
  g_notificationServer = std::make_unique<NotificationServer>(kNotificationPipeName, NotificationWebSocketPort());
  g_notificationServer->SetListeningCallback([](uint16_t port) { g_endpointFile->Publish(port); });
  g_notificationServer->SetCallback([](const NotificationData& data) {
    if (g_overlay) g_overlay->AddNotification(OverlayNotification{data});
    PublishBrowserCard(data);
  });
  g_notificationServer->SetFeedCallback(TakeFeedDelivery);
  g_notificationServer->SetWakeCallback(WakeWorkLoop);
  if (g_notificationServer->Start())
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

void Shutdown() {
  StopWorkSources();
  g_notificationServer.reset();
  g_endpointFile.reset();
  g_browserSource.reset();
  g_overlay.reset();
  g_rpcClient.reset();
  Shell_NotifyIconW(NIM_DELETE, &g_trayIcon);
  if (g_customIcon) {
    DestroyIcon(g_customIcon);
    g_customIcon = nullptr;
  }
  if (g_singleInstanceMutex) {
    ReleaseMutex(g_singleInstanceMutex);
    CloseHandle(g_singleInstanceMutex);
    g_singleInstanceMutex = nullptr;
  }
  RendererShutdown();
}

}  // namespace

int RunVoxmere(HINSTANCE instance) {
  // What LoadConfig logs is held until the log begins.
  bool configLoaded = LoadConfig(g_config, GetConfigPath());
  g_language = ChooseLanguage(g_config.language);

  // Checked before the log is restarted, so a second start leaves the
  // running instance's debug.log alone.
  if (!g_config.allow_multi_instance && AnotherInstanceRuns()) return 0;

  BeginLog(GetExeDirectory() + L"\\debug.log", L"=== Voxmere Started ===");
  WriteLogLine(L"Config loaded: " + Num(configLoaded ? 1 : 0));
  WriteLogLine(L"Monitor: " + Num(g_config.monitor));
  WriteLogLine(L"Allow multi-instance: " + Num(g_config.allow_multi_instance ? 1 : 0));
  WriteLogLine(L"Language: " + Num(g_language));
  // A folder the user moved since: the Run value still names the old place.
  if (g_config.start_with_windows) ApplyStartWithWindows(true);

  if (!RendererInitialize()) {
    WriteLogLine(L"ERROR: Failed to initialize GDI+");
    MessageBoxW(nullptr, Text(kTextGdiplusFailed), Text(kTextError), MB_ICONERROR);
    return 1;
  }
  WriteLogLine(L"GDI+ initialized");

  if (!CreateMessageWindow(instance)) {
    RendererShutdown();
    return 1;
  }
  CreateTrayIcon();
  WriteLogLine(L"Tray icon created");

  g_overlay = std::make_unique<OverlayWindow>(GetRenderer());
  if (!g_overlay->Create(instance)) {
    WriteLogLine(L"ERROR: Failed to create overlay window");
    MessageBoxW(nullptr, Text(kTextOverlayFailed), Text(kTextError), MB_ICONERROR);
    Shell_NotifyIconW(NIM_DELETE, &g_trayIcon);
    RendererShutdown();
    return 1;
  }
  WriteLogLine(L"Overlay window created");
  GetRenderer().avatars.onFinished = WakeWorkLoop;
  WriteLogLine(L"Screen: X=" + Num(g_overlay->x) + L" Y=" + Num(g_overlay->y) + L" W=" + Num(g_overlay->width) +
               L" H=" + Num(g_overlay->height));

  LogMalformedHttpOverrides();
  CreateRpcClient();
  StartNotificationServer();
  ApplyBrowserSourceSetting();

  StartWorkSources();
  StartVoiceSources(IsPluginEnabled(GetRoamingAppDataFolder()));
  // Connected and scheduled before the plugin check: a notice the user leaves
  // open keeps its own message loop, which runs the work too.
  Reconnect();
  RunDueWork();
  WriteLogLine(L"Checking BetterDiscord installation...");
  CheckPluginInstallation(g_messageWindow);

  if (g_running) RunMessageLoop();
  Shutdown();
  return 0;
}
