// A console host for NotificationServer, for clients outside Wine: prints
// "LISTENING <port>" once the WebSocket listens and one "NOTIFICATION <json>"
// line per delivered record. Ends when standard input closes or after
// --seconds (default 60).
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "app/log.h"
#include "notify/notification_parse.h"
#include "notify/notification_server.h"

namespace {

std::atomic<bool> g_inputOpen{true};

void WatchInput() {
  char byte;
  DWORD read = 0;
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  while (ReadFile(input, &byte, 1, &read, nullptr) && read > 0) {
  }
  g_inputOpen = false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  uint16_t port = 0;
  DWORD seconds = 60;
  std::wstring pipeName = L"\\\\.\\pipe\\VoxmereNotifyHost_" + std::to_wstring(GetCurrentProcessId());
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::wstring arg = argv[i];
    if (arg == L"--port") port = static_cast<uint16_t>(std::wcstoul(argv[i + 1], nullptr, 10));
    else if (arg == L"--seconds") seconds = std::wcstoul(argv[i + 1], nullptr, 10);
    else if (arg == L"--log") g_logPath = argv[i + 1];
    else if (arg == L"--pipe-name") pipeName = argv[i + 1];
  }

  NotificationServer server(pipeName, port);
  server.SetCallback([](const NotificationData& data) {
    std::printf("NOTIFICATION %s\n", FormatNotification(data).c_str());
    std::fflush(stdout);
  });
  if (!server.Start()) return 1;
  std::thread(WatchInput).detach();
  const ULONGLONG deadline = GetTickCount64() + seconds * 1000ULL;
  bool announced = false;
  while (g_inputOpen && GetTickCount64() < deadline) {
    if (!announced && server.BoundPort() != 0) {
      std::printf("LISTENING %u\n", static_cast<unsigned>(server.BoundPort()));
      std::fflush(stdout);
      announced = true;
    }
    server.ProcessPendingNotifications();
    Sleep(20);
  }
  server.Stop();
  return 0;
}
