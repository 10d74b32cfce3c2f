#include "tests/reliability/peer_clients.h"

#include <psapi.h>

#include "app/log.h"
#include "notify/notification_parse.h"
#include "notify/websocket_frame.h"
#include "tests/support/child_process.h"

std::string TaggedNotification(const std::string& sender, int sequence) {
  NotificationData data;
  data.displayName = WidenAscii(sender);
  data.content = WidenAscii(sender + "#" + std::to_string(sequence));
  return FormatNotification(data);
}

bool ParseTag(const std::wstring& content, std::string& sender, int& sequence) {
  const size_t hash = content.rfind(L'#');
  if (hash == std::wstring::npos || hash + 1 >= content.size()) return false;
  sender = NarrowAscii(content.substr(0, hash));
  sequence = std::stoi(content.substr(hash + 1));
  return true;
}

std::string UpgradeRequest(const std::string& extraHeaders) {
  return "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
         extraHeaders + "\r\n";
}

bool WebSocketPeer::Connect(uint16_t port) {
  Close();
  socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket_ == INVALID_SOCKET) return false;
  DWORD timeout = 3000;
  setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
}

bool WebSocketPeer::Upgrade(uint16_t port) {
  return Connect(port) && SendRaw(UpgradeRequest()) && Response().rfind("HTTP/1.1 101 ", 0) == 0;
}

std::string WebSocketPeer::Response() {
  std::string answer;
  char chunk[512];
  for (int n; answer.find("\r\n\r\n") == std::string::npos && (n = recv(socket_, chunk, sizeof(chunk), 0)) > 0;)
    answer.append(chunk, static_cast<size_t>(n));
  return answer;
}

bool WebSocketPeer::ClosedByPeer() {
  char byte;
  int n = recv(socket_, &byte, 1, 0);
  return n == 0 || (n < 0 && WSAGetLastError() != WSAETIMEDOUT);
}

bool WebSocketPeer::SendText(const std::string& payload) {
  return SendRaw(EncodeWebSocketFrame(kWebSocketOpText, payload, 0x5A17C0DE));
}

bool WebSocketPeer::SendRaw(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    int n = send(socket_, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

void WebSocketPeer::Reset() {
  if (socket_ == INVALID_SOCKET) return;
  linger abort = {1, 0};
  setsockopt(socket_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof(abort));
  Close();
}

void WebSocketPeer::Close() {
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
  socket_ = INVALID_SOCKET;
}

bool PipePeer::Open(const std::wstring& pipeName, DWORD timeoutMs) {
  Close();
  WaitFor(
      [&] {
        pipe_ = CreateFileW(pipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        return pipe_ != INVALID_HANDLE_VALUE;
      },
      timeoutMs);
  if (pipe_ == INVALID_HANDLE_VALUE) return false;
  DWORD mode = PIPE_READMODE_MESSAGE;
  SetNamedPipeHandleState(pipe_, &mode, nullptr, nullptr);
  return true;
}

bool PipePeer::Send(const std::string& message) {
  DWORD written = 0;
  return WriteFile(pipe_, message.data(), static_cast<DWORD>(message.size()), &written, nullptr) &&
         written == message.size();
}

void PipePeer::Close() {
  if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
  pipe_ = INVALID_HANDLE_VALUE;
}

ServerUnderTest::ServerUnderTest() {
  static int serial = 0;
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  const std::wstring id = std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++serial);
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  g_logPath = std::wstring(temp) + L"notify_server_" + id + L".log";
  DeleteFileW(g_logPath.c_str());
  pipeName = L"\\\\.\\pipe\\VoxmereNotifyTest_" + id;
  server = std::make_unique<NotificationServer>(pipeName, 0);
  server->SetCallback([this](const NotificationData& data) { received.push_back(data); });
}

ServerUnderTest::~ServerUnderTest() {
  server.reset();
  DeleteFileW(g_logPath.c_str());
  g_logPath.clear();
  WSACleanup();
}

bool ServerUnderTest::Start() {
  if (!server->Start() || !WaitFor([this] { return server->BoundPort() != 0; }, 5000)) return false;
  port = server->BoundPort();
  return true;
}

bool ServerUnderTest::DrainUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  for (const ULONGLONG deadline = GetTickCount64() + timeoutMs;; Sleep(1)) {
    server->ProcessPendingNotifications();
    if (done()) return true;
    if (GetTickCount64() > deadline) return false;
  }
}

std::vector<std::string> ServerUnderTest::Log(const std::string& fragment) const {
  return ReadLogLines(g_logPath, fragment);
}

bool ServerUnderTest::WaitLogged(const std::string& fragment, size_t count) const {
  return WaitFor([&] { return Log(fragment).size() >= count; }, 5000);
}

// Wine answers GetProcessHandleCount with 0: count the values that name a
// handle instead. Wine hands them out densely from 4 upwards, so the first
// 4096 values see any leak long before it reaches them.
static DWORD ProbeHandleCount(HANDLE process) {
  const bool own = GetProcessId(process) == GetCurrentProcessId();
  DWORD count = 0;
  for (ULONG_PTR value = 4; value < 0x4000; value += 4) {
    HANDLE handle = reinterpret_cast<HANDLE>(value), copy = nullptr;
    DWORD flags = 0;
    if (own ? GetHandleInformation(handle, &flags) != 0
            : DuplicateHandle(process, handle, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS) != 0)
      ++count;
    if (copy) CloseHandle(copy);
  }
  return count;
}

ProcessFigures MeasureProcess(HANDLE process) {
  ProcessFigures figures;
  if (!GetProcessHandleCount(process, &figures.handles) || figures.handles == 0) {
    figures.handles = ProbeHandleCount(process);
    figures.handlesProbed = true;
  }
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof(memory);
  if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory)))
    // Wine leaves PrivateUsage at 0 but fills the commit charge, which is the
    // same figure on Windows.
    figures.privateBytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
  return figures;
}
