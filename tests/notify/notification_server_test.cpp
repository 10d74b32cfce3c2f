// NotificationServer in-process: the drain, the pipe endpoint with a client
// in this process and the WebSocket endpoint over loopback on a port of its
// own. Log lines come from a private debug.log.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/log.h"
#include "notify/notification_server.h"
#include "notify/websocket_frame.h"
#include "tests/support/child_process.h"

namespace {

std::string Notification(const std::string& displayName, const std::string& content = "") {
  return R"({"displayName":")" + displayName + R"(","content":")" + content + R"("})";
}

std::string UpgradeRequest(const std::string& extraHeaders = "") {
  return "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
         extraHeaders + "\r\n";
}

struct PipeClient {
  HANDLE h = INVALID_HANDLE_VALUE;
  explicit PipeClient(const std::wstring& name) {
    WaitFor([&] { return WaitNamedPipeW(name.c_str(), 100) != 0; }, 5000);
    h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  ~PipeClient() { Close(); }
  void Close() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
  }
  bool Write(const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
  }
};

struct Socket {
  SOCKET s = INVALID_SOCKET;
  ~Socket() { Close(); }
  void Close() {
    if (s != INVALID_SOCKET) closesocket(s);
    s = INVALID_SOCKET;
  }
  bool Connect(uint16_t port) {
    s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    DWORD timeout = 3000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  }
  bool Send(const std::string& bytes) {
    return send(s, bytes.data(), static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size());
  }
  // Until the header block ends, the peer closes, or 3 s pass.
  std::string ReadResponse() {
    std::string response;
    char chunk[1024];
    for (int n; response.find("\r\n\r\n") == std::string::npos && (n = recv(s, chunk, sizeof(chunk), 0)) > 0;)
      response.append(chunk, n);
    return response;
  }
  bool Upgrade(uint16_t port) {
    return Connect(port) && Send(UpgradeRequest()) && ReadResponse().rfind("HTTP/1.1 101 ", 0) == 0;
  }
  bool SendFrame(const std::string& payload) { return Send(EncodeWebSocketFrame(kWebSocketOpText, payload, 0x1234567)); }
  bool ClosedByPeer() {
    char byte;
    int n = recv(s, &byte, 1, 0);
    return n == 0 || (n < 0 && WSAGetLastError() != WSAETIMEDOUT);
  }
};

class NotificationServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    const std::wstring id = std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++serial);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    g_logPath = std::wstring(temp) + L"notify_server_test_" + id + L".log";
    DeleteFileW(g_logPath.c_str());
    pipeName = L"\\\\.\\pipe\\VoxmereNotifyTest_" + id;
    server = std::make_unique<NotificationServer>(pipeName, 0);
    server->SetCallback([this](const NotificationData& data) { received.push_back(data); });
  }
  void TearDown() override {
    server.reset();
    DeleteFileW(g_logPath.c_str());
    WSACleanup();
  }

  void Start() {
    ASSERT_TRUE(server->Start());
    ASSERT_TRUE(WaitFor([this] { return server->BoundPort() != 0; }, 5000));
    port = server->BoundPort();
  }
  std::vector<std::string> Log(const std::string& fragment = "") const {
    HANDLE file = CreateFileW(g_logPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    std::string text(1 << 20, '\0');
    DWORD n = 0;
    if (file != INVALID_HANDLE_VALUE) ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &n, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    std::vector<std::string> lines;
    for (size_t begin = 0, end; (end = text.find("\r\n", begin)) < n; begin = end + 2) {
      std::string line = text.substr(begin, end - begin);
      if (line.find(fragment) != std::string::npos) lines.push_back(line);
    }
    return lines;
  }
  bool WaitLogged(const std::string& fragment, size_t count = 1) const {
    return WaitFor([&] { return Log(fragment).size() >= count; }, 5000);
  }
  // Drains as the main loop would, until count records arrived.
  bool DrainUntil(size_t count) {
    return WaitFor([&] { return server->ProcessPendingNotifications(), received.size() >= count; }, 5000);
  }

  static inline int serial = 0;
  std::wstring pipeName;
  std::unique_ptr<NotificationServer> server;
  uint16_t port = 0;
  std::vector<NotificationData> received;
};

}  // namespace

TEST_F(NotificationServerTest, LifecycleAndDrainLines) {
  server->Stop();
  EXPECT_EQ(Log(), std::vector<std::string>{"[NotifServer] Notification server stopped"});
  Start();
  EXPECT_TRUE(server->Start());
  EXPECT_EQ(Log("started").size(), 1u);
  server->ProcessPendingNotifications();
  EXPECT_TRUE(Log("Processing").empty());
  server->Stop();
  Start();  // fresh threads after a stop
  server->SetCallback(nullptr);
  PipeClient pipe(pipeName);
  ASSERT_TRUE(pipe.Write(Notification("a")));
  ASSERT_TRUE(WaitLogged("Queued notification from pipe: a"));
  server->ProcessPendingNotifications();
  EXPECT_EQ(Log("WARNING: No callback set!").size(), 1u);
}

TEST_F(NotificationServerTest, PipeMessagesOnOneConnection) {
  Start();
  PipeClient pipe(pipeName);
  ASSERT_NE(pipe.h, INVALID_HANDLE_VALUE);
  std::string cut = Notification("cut", "be");
  cut.insert(cut.find("be") + 2, std::string("\0fore", 5));
  const std::string whole = Notification("whole", std::string(4095 - Notification("whole").size(), 'x'));
  ASSERT_TRUE(pipe.Write(R"({"content":"nobody"})"));  // dropped silently, connection stays
  ASSERT_TRUE(pipe.Write(cut));
  ASSERT_TRUE(pipe.Write(R"({"username":"fallback"})"));
  ASSERT_TRUE(pipe.Write(Notification("\xE5\xA4\xAA\xE9\x83\x8E")));  // 太郎
  ASSERT_TRUE(pipe.Write(whole));
  ASSERT_TRUE(WaitLogged("Queued notification from pipe: ", 4));
  server->ProcessPendingNotifications();
  ASSERT_EQ(received.size(), 4u);
  EXPECT_EQ(received[0].content, L"be");
  EXPECT_EQ(received[1].displayName, L"fallback");
  EXPECT_EQ(received[2].displayName, std::wstring({0x592A, 0x90CE}));
  EXPECT_EQ(received[3].content.size(), 4095 - Notification("whole").size());
  EXPECT_EQ(Log("Processing"), std::vector<std::string>{"[NotifServer] Processing 4 pending notifications"});
  EXPECT_EQ(Log("Pipe client connected").size(), 1u);
  EXPECT_EQ(Log("Pipe received: ").front(), "[NotifServer] Pipe received: {\"content\":\"nobody\"}");
  EXPECT_EQ(Log("from pipe: ")[2], "[NotifServer] Queued notification from pipe: \x2A\xCE");  // low bytes

  ASSERT_TRUE(pipe.Write(whole + "y"));
  ASSERT_TRUE(WaitLogged("Pipe read error: 234"));
  EXPECT_TRUE(WaitLogged("Waiting for pipe client connection...", 2));
  EXPECT_FALSE(pipe.Write(Notification("late")));
  server->ProcessPendingNotifications();
  EXPECT_EQ(received.size(), 4u);
}

TEST_F(NotificationServerTest, PipeServesOneClientAtATime) {
  Start();
  PipeClient first(pipeName);
  ASSERT_TRUE(WaitLogged("Pipe client connected"));
  HANDLE second = CreateFileW(pipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
  first.Close();
  ASSERT_TRUE(WaitLogged("Pipe client disconnected"));
  PipeClient next(pipeName);
  ASSERT_TRUE(next.Write(Notification("next")));
  ASSERT_TRUE(DrainUntil(1));
}

TEST_F(NotificationServerTest, QueueIsCappedDroppingTheOldest) {
  Start();
  PipeClient pipe(pipeName);
  const size_t total = kMaxPendingNotifications + 3;
  for (size_t i = 0; i < total; ++i) ASSERT_TRUE(pipe.Write(Notification("n" + std::to_string(i))));
  ASSERT_TRUE(WaitLogged("Queued notification from pipe: ", total));
  EXPECT_EQ(Log("Pending queue full").size(), 3u);
  server->ProcessPendingNotifications();
  ASSERT_EQ(received.size(), kMaxPendingNotifications);
  EXPECT_EQ(received.front().displayName, L"n3");
}

TEST_F(NotificationServerTest, StopEndsWaitsReadsAndClientsPromptly) {
  Start();
  PipeClient pipe(pipeName);
  ASSERT_TRUE(WaitLogged("Pipe client connected"));
  Socket silent, handshaking;
  ASSERT_TRUE(silent.Upgrade(port));
  ASSERT_TRUE(handshaking.Connect(port));
  ASSERT_TRUE(WaitLogged("WebSocket client connecting...", 2));
  const ULONGLONG before = GetTickCount64();
  server->Stop();
  EXPECT_LT(GetTickCount64() - before, 1500u);
  EXPECT_TRUE(silent.ClosedByPeer());
  EXPECT_TRUE(handshaking.ClosedByPeer());
  // The handshaking client's thread had ended (and logged) before Stop returned.
  std::vector<std::string> lines = Log();
  EXPECT_EQ(lines.back(), "[NotifServer] Notification server stopped") << ::testing::PrintToString(lines);
  EXPECT_EQ(Log("WebSocket handshake failed").size(), 1u);
}

TEST_F(NotificationServerTest, WebSocketHandshakeAnswers) {
  Start();
  std::string lowerKey = UpgradeRequest();
  lowerKey.replace(lowerKey.find("Sec-WebSocket-Key"), 17, "sec-websocket-key");
  const struct {
    const char* name;
    std::string request;
    DWORD delayMs;  // before the request, and again between its two halves
    std::string expected;
  } cases[] = {
      {"RFC 6455 sample key", UpgradeRequest(), 0,
       "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
       "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n"},
      {"late and split request", UpgradeRequest(), 300, "HTTP/1.1 101 "},
      {"lower-case key header", lowerKey, 0, ""},
      {"file page origin", UpgradeRequest("Origin: null\r\n"), 0, "HTTP/1.1 403 Forbidden\r\n"},
      {"web page origin", UpgradeRequest("Origin: https://example.com\r\n"), 0, "HTTP/1.1 403 Forbidden\r\n"},
      {"discord origin", UpgradeRequest("Origin: https://discord.com\r\n"), 0, "HTTP/1.1 101 "},
  };
  for (const auto& c : cases) {
    Socket s;
    ASSERT_TRUE(s.Connect(port)) << c.name;
    Sleep(c.delayMs);
    ASSERT_TRUE(s.Send(c.request.substr(0, 30))) << c.name;
    Sleep(c.delayMs);
    ASSERT_TRUE(s.Send(c.request.substr(30))) << c.name;
    std::string response = s.ReadResponse();
    EXPECT_EQ(response.substr(0, c.expected.size()), c.expected) << c.name;
    if (c.expected.empty()) {
      EXPECT_TRUE(response.empty()) << c.name;
    }
  }
  EXPECT_EQ(Log("WebSocket origin refused: ").front(), "[NotifServer] WebSocket origin refused: null");
  Socket mute;  // never sends: given up after the bounded wait
  ASSERT_TRUE(mute.Connect(port));
  EXPECT_TRUE(mute.ClosedByPeer());
  EXPECT_TRUE(WaitLogged("WebSocket handshake failed", 4));
}

TEST_F(NotificationServerTest, WebSocketFramesBecomeNotifications) {
  Start();
  Socket a, b;
  ASSERT_TRUE(a.Upgrade(port));
  ASSERT_TRUE(b.Upgrade(port));
  // A ping yields nothing and needs no answer.
  ASSERT_TRUE(a.Send(EncodeWebSocketFrame(kWebSocketOpPing, "p", 1)));
  Sleep(100);
  ASSERT_TRUE(a.SendFrame(R"({"content":"anonymous"})"));
  ASSERT_TRUE(WaitLogged("Failed to parse notification - displayName empty"));
  ASSERT_TRUE(a.SendFrame(Notification("from a", "hello")));
  ASSERT_TRUE(WaitLogged("Queued notification, pending count: 1"));
  Sleep(1500);  // silence beyond the receive time-out keeps the connection
  ASSERT_TRUE(b.SendFrame(Notification("b")));
  ASSERT_TRUE(DrainUntil(2));
  EXPECT_EQ(received[0].content, L"hello");
  EXPECT_EQ(received[1].displayName, L"b");
  EXPECT_EQ(Log("WebSocket received ").front(), "[NotifServer] WebSocket received 23 bytes");
  a.Close();
  EXPECT_TRUE(WaitLogged("WebSocket client disconnected"));
}

TEST_F(NotificationServerTest, WebSocketClientsAreCapped) {
  Start();
  std::vector<Socket> clients(kMaxWebSocketClients);
  for (Socket& c : clients) ASSERT_TRUE(c.Upgrade(port));
  Socket extra;
  ASSERT_TRUE(extra.Connect(port));
  EXPECT_TRUE(extra.ClosedByPeer());
  EXPECT_TRUE(WaitLogged("WebSocket client refused: " + std::to_string(kMaxWebSocketClients) +
                         " clients already connected"));
  clients[0].Close();
  ASSERT_TRUE(WaitLogged("WebSocket client disconnected"));
  Socket replacement;
  EXPECT_TRUE(replacement.Upgrade(port));
}

TEST_F(NotificationServerTest, SecondServerTakesOverWhenTheFirstStops) {
  Start();
  NotificationServer second(pipeName, port);
  std::vector<NotificationData> secondReceived;
  second.SetCallback([&](const NotificationData& data) { secondReceived.push_back(data); });
  ASSERT_TRUE(second.Start());
  ASSERT_TRUE(WaitLogged("WebSocket bind failed: "));
  ASSERT_TRUE(WaitLogged("Failed to create pipe: "));
  Sleep(2500);  // retries stay quiet
  EXPECT_EQ(Log("WebSocket bind failed: ").size(), 1u);
  EXPECT_EQ(Log("Failed to create pipe: ").size(), 1u);
  server->Stop();
  ASSERT_TRUE(WaitFor([&] { return second.BoundPort() == port; }, 5000));
  PipeClient pipe(pipeName);
  ASSERT_TRUE(pipe.Write(Notification("over the pipe")));
  Socket ws;
  ASSERT_TRUE(ws.Upgrade(port));
  ASSERT_TRUE(ws.SendFrame(Notification("over the socket")));
  EXPECT_TRUE(WaitFor([&] { return second.ProcessPendingNotifications(), secondReceived.size() >= 2; }, 5000));
}
