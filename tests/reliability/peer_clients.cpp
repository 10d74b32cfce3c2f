#include "tests/reliability/peer_clients.h"


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

std::string UpgradeRequest(const std::string& extraHeaders) {
  return "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
         extraHeaders + "\r\n";
}

bool WebSocketPeer::Connect(uint16_t port) {
  Close();
  socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  DWORD timeout = 3000;
  setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return socket_ != INVALID_SOCKET && connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
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

std::string WebSocketPeer::Receive(size_t count) {
  std::string bytes(count, '\0');
  size_t got = 0;
  for (int n; got < count && (n = recv(socket_, &bytes[got], int(count - got), 0)) > 0;) got += size_t(n);
  return bytes.substr(0, got);
}

bool WebSocketPeer::ClosedByPeer() {
  char byte;
  const int n = recv(socket_, &byte, 1, 0);
  return n == 0 || (n < 0 && WSAGetLastError() != WSAETIMEDOUT);
}

bool WebSocketPeer::SendText(const std::string& payload) {
  return SendRaw(EncodeWebSocketFrame(kWebSocketOpText, payload, 0x5A17C0DE));
}

bool WebSocketPeer::SendRaw(const std::string& bytes) {
  for (size_t sent = 0, n; sent < bytes.size(); sent += n)
    if (int(n = size_t(send(socket_, bytes.data() + sent, int(bytes.size() - sent), 0))) <= 0) return false;
  return true;
}

void WebSocketPeer::Reset() {
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
  DWORD mode = PIPE_READMODE_MESSAGE;
  return WaitFor([&] {
    pipe_ = CreateFileW(pipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return pipe_ != INVALID_HANDLE_VALUE;
  }, timeoutMs) && SetNamedPipeHandleState(pipe_, &mode, nullptr, nullptr);
}

bool PipePeer::Send(const std::string& message) {
  DWORD written = 0;
  return WriteFile(pipe_, message.data(), DWORD(message.size()), &written, nullptr) && written == message.size();
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
  server->SetFeedCallback([this](const FeedDelivery& delivery) { feed.push_back(delivery); });
}

ServerUnderTest::~ServerUnderTest() {
  server.reset();
  DeleteFileW(g_logPath.c_str());
  g_logPath.clear();
  WSACleanup();
}

bool ServerUnderTest::Start() {
  return server->Start() && WaitFor([this] { return (port = server->BoundPort()) != 0; }, 5000);
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
