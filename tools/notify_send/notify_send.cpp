// notify_send: sends one notification to a running Voxmere over the named
// pipe or the WebSocket, as the companion plugin would. For tests, the demo
// and users checking their set-up.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/text_convert.h"
#include "notify/notification_parse.h"
#include "notify/websocket_frame.h"
#include "notify/websocket_handshake.h"

namespace {

constexpr DWORD kTimeoutMs = 5000;
constexpr size_t kPipeMessageLimit = 4095;

const wchar_t kUsage[] =
    L"Usage: notify_send.exe [--pipe | --websocket] [options] [--field value ...]\n"
    L"Fields: --username --displayName --content --avatarUrl --channelName --serverName\n"
    L"        --avatarHash --userId (a notification needs a displayName or a username)\n"
    L"Options:\n"
    L"  --pipe              send over \\\\.\\pipe\\VoxmereNotifications (the default)\n"
    L"  --websocket         send over ws://127.0.0.1:47523\n"
    L"  --pipe-name NAME    another pipe name\n"
    L"  --port N            another WebSocket port\n"
    L"  --origin VALUE      send this Origin header in the WebSocket upgrade\n"
    L"  --raw TEXT          send TEXT as it is instead of building it from the fields\n";

struct Options {
  bool webSocket = false;
  std::wstring pipeName = L"\\\\.\\pipe\\VoxmereNotifications";
  unsigned port = 47523;
  std::string origin;
  bool raw = false;
  std::string text;
  NotificationData data;
};

struct FieldOption {
  const wchar_t* name;
  std::wstring NotificationData::*field;
};
const FieldOption kFields[] = {
    {L"--username", &NotificationData::username},       {L"--displayName", &NotificationData::displayName},
    {L"--content", &NotificationData::content},         {L"--avatarUrl", &NotificationData::avatarUrl},
    {L"--channelName", &NotificationData::channelName}, {L"--serverName", &NotificationData::serverName},
    {L"--avatarHash", &NotificationData::avatarHash},   {L"--userId", &NotificationData::userId},
};

int Fail(const std::string& message) {
  std::fprintf(stderr, "notify_send: %s\n", message.c_str());
  return 1;
}

bool ParseArguments(int argc, wchar_t** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--pipe") {
      options.webSocket = false;
      continue;
    }
    if (arg == L"--websocket") {
      options.webSocket = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const std::wstring value = argv[++i];
    bool known = true;
    if (arg == L"--pipe-name") {
      options.pipeName = value;
    } else if (arg == L"--port") {
      options.port = static_cast<unsigned>(std::wcstoul(value.c_str(), nullptr, 10));
      if (options.port == 0 || options.port > 65535) return false;
    } else if (arg == L"--origin") {
      options.origin = WideToUtf8(value);
    } else if (arg == L"--raw") {
      options.raw = true;
      options.text = WideToUtf8(value);
    } else {
      known = false;
      for (const FieldOption& f : kFields)
        if (arg == f.name) {
          options.data.*f.field = value;
          known = true;
        }
    }
    if (!known) return false;
  }
  return true;
}

int SendOverPipe(const Options& options) {
  if (options.text.size() > kPipeMessageLimit)
    return Fail("the text is " + std::to_string(options.text.size()) + " bytes; the pipe takes at most 4095");
  const ULONGLONG deadline = GetTickCount64() + kTimeoutMs;
  HANDLE pipe = INVALID_HANDLE_VALUE;
  // The server has one instance and makes a new one after each client.
  while (pipe == INVALID_HANDLE_VALUE) {
    pipe = CreateFileW(options.pipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) break;
    DWORD error = GetLastError();
    if (GetTickCount64() > deadline || (error != ERROR_PIPE_BUSY && error != ERROR_FILE_NOT_FOUND))
      return Fail("cannot open the pipe (error " + std::to_string(error) + "); is Voxmere running?");
    if (error == ERROR_PIPE_BUSY) WaitNamedPipeW(options.pipeName.c_str(), 200);
    else Sleep(100);
  }
  DWORD written = 0;
  BOOL ok = WriteFile(pipe, options.text.data(), static_cast<DWORD>(options.text.size()), &written, nullptr);
  DWORD error = GetLastError();
  CloseHandle(pipe);
  if (!ok || written != options.text.size()) return Fail("pipe write failed (error " + std::to_string(error) + ")");
  std::printf("Sent %u bytes over the pipe\n", static_cast<unsigned>(written));
  return 0;
}

std::string RandomKey() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  uint64_t state = static_cast<uint64_t>(counter.QuadPart) ^ (uint64_t{GetCurrentProcessId()} << 32);
  uint8_t nonce[16];
  for (uint8_t& byte : nonce) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    byte = static_cast<uint8_t>(state >> 56);
  }
  return Base64Encode(nonce, sizeof(nonce));
}

int SendOverWebSocket(SOCKET s, const Options& options) {
  DWORD timeout = kTimeoutMs;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(options.port));
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
    return Fail("cannot connect to 127.0.0.1:" + std::to_string(options.port) + " (error " +
                std::to_string(WSAGetLastError()) + "); is Voxmere running?");

  std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(options.port) +
                        "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: " + RandomKey() +
                        "\r\nSec-WebSocket-Version: 13\r\n";
  if (!options.origin.empty()) request += "Origin: " + options.origin + "\r\n";
  request += "\r\n";
  send(s, request.data(), static_cast<int>(request.size()), 0);
  std::string response;
  char chunk[1024];
  while (!IsHttpRequestComplete(response)) {
    int n = recv(s, chunk, sizeof(chunk), 0);
    if (n <= 0) break;
    response.append(chunk, n);
  }
  if (response.rfind("HTTP/1.1 101 ", 0) != 0)
    return Fail("upgrade refused: " + (response.empty() ? std::string("no answer") : response.substr(0, response.find("\r\n"))));

  const std::string frame = EncodeWebSocketFrame(kWebSocketOpText, options.text, GetTickCount() * 2654435761u);
  if (send(s, frame.data(), static_cast<int>(frame.size()), 0) != static_cast<int>(frame.size()))
    return Fail("send failed (error " + std::to_string(WSAGetLastError()) + ")");
  // The server closes its side once it has read everything before our end.
  shutdown(s, SD_SEND);
  while (recv(s, chunk, sizeof(chunk), 0) > 0) {
  }
  std::printf("Sent %u bytes over the WebSocket\n", static_cast<unsigned>(options.text.size()));
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!ParseArguments(argc, argv, options)) {
    std::fputws(kUsage, stderr);
    return 2;
  }
  if (!options.raw) {
    if (options.data.displayName.empty() && options.data.username.empty()) {
      std::fputws(kUsage, stderr);
      return 2;
    }
    options.text = FormatNotification(options.data);
  }
  if (!options.webSocket) return SendOverPipe(options);

  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return Fail("WSAStartup failed");
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  int result = s == INVALID_SOCKET ? Fail("socket failed") : SendOverWebSocket(s, options);
  if (s != INVALID_SOCKET) closesocket(s);
  WSACleanup();
  return result;
}
