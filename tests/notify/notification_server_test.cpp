// NotificationServer in-process: the queue and its drain, the pipe endpoint
// with a client in this process, and the WebSocket endpoint over loopback on
// a port of its own. Log lines are read back from a private debug.log.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/log.h"
#include "notify/notification_parse.h"
#include "notify/notification_server.h"
#include "notify/websocket_frame.h"
#include "tests/support/child_process.h"

namespace {

const char kRfcKey[] = "dGhlIHNhbXBsZSBub25jZQ==";

std::string Notification(const std::string& displayName, const std::string& content = "") {
  return R"({"displayName":")" + displayName + R"(","content":")" + content + R"("})";
}

std::string UpgradeRequest(const std::string& extraHeaders = "", const char* key = kRfcKey) {
  return std::string("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n") +
         "Sec-WebSocket-Key: " + key + "\r\nSec-WebSocket-Version: 13\r\n" + extraHeaders + "\r\n";
}

struct Handle {
  HANDLE h = INVALID_HANDLE_VALUE;
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
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
  // Everything until the header block ends, the peer closes, or 3 s pass.
  std::string ReadResponse() {
    std::string response;
    char chunk[1024];
    while (response.find("\r\n\r\n") == std::string::npos) {
      int n = recv(s, chunk, sizeof(chunk), 0);
      if (n <= 0) break;
      response.append(chunk, n);
    }
    return response;
  }
  bool Upgrade(uint16_t port, const std::string& headers = "") {
    return Connect(port) && Send(UpgradeRequest(headers)) &&
           ReadResponse().rfind("HTTP/1.1 101 Switching Protocols\r\n", 0) == 0;
  }
  bool SendFrame(const std::string& payload) { return Send(EncodeWebSocketFrame(kWebSocketOpText, payload, 0x12345678)); }
  // True when the peer closed: recv gives 0 or a reset within 3 s.
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
    g_logPath.clear();
    WSACleanup();
  }

  void Start() {
    ASSERT_TRUE(server->Start());
    ASSERT_TRUE(WaitFor([this] { return server->BoundPort() != 0; }, 5000));
    port = server->BoundPort();
  }

  std::vector<std::string> Log(const std::string& fragment = "") const {
    std::vector<std::string> lines;
    Handle file;
    file.h = CreateFileW(g_logPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
    if (file.h == INVALID_HANDLE_VALUE) return lines;
    std::string text(1 << 20, '\0');
    DWORD n = 0;
    ReadFile(file.h, &text[0], static_cast<DWORD>(text.size()), &n, nullptr);
    text.resize(n);
    size_t begin = 0;
    for (size_t end; (end = text.find("\r\n", begin)) != std::string::npos; begin = end + 2) {
      std::string line = text.substr(begin, end - begin);
      if (line.find(fragment) != std::string::npos) lines.push_back(line);
    }
    return lines;
  }
  bool WaitLogged(const std::string& fragment, size_t count = 1, DWORD timeoutMs = 5000) const {
    return WaitFor([&] { return Log(fragment).size() >= count; }, timeoutMs);
  }
  // Drains until count records arrived, as the main loop would.
  bool DrainUntil(size_t count, DWORD timeoutMs = 5000) {
    return WaitFor(
        [&] {
          server->ProcessPendingNotifications();
          return received.size() >= count;
        },
        timeoutMs);
  }

  HANDLE OpenPipe() const {
    WaitFor([this] { return WaitNamedPipeW(pipeName.c_str(), 100) != 0; }, 5000);
    return CreateFileW(pipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  static bool WriteMessage(HANDLE pipe, const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
  }

  static inline int serial = 0;
  std::wstring pipeName;
  std::unique_ptr<NotificationServer> server;
  uint16_t port = 0;
  std::vector<NotificationData> received;
};

}  // namespace

TEST_F(NotificationServerTest, LifecycleLines) {
  server->Stop();
  EXPECT_EQ(Log(), std::vector<std::string>{"[NotifServer] Notification server stopped"});
  Start();
  EXPECT_TRUE(server->Start());
  server->ProcessPendingNotifications();
  EXPECT_EQ(Log("started").size(), 1u);
  EXPECT_TRUE(Log("Processing").empty());
  EXPECT_TRUE(WaitLogged("WebSocket server listening on port " + std::to_string(port)));
  server->Stop();
  EXPECT_EQ(server->BoundPort(), 0);
  // A stopped server starts again with fresh threads.
  Start();
  Handle pipe;
  pipe.h = OpenPipe();
  ASSERT_NE(pipe.h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(WriteMessage(pipe.h, Notification("again")));
  ASSERT_TRUE(DrainUntil(1));
}

TEST_F(NotificationServerTest, PipeMessagesOnOneConnectionDrainInOrder) {
  Start();
  Handle pipe;
  pipe.h = OpenPipe();
  ASSERT_NE(pipe.h, INVALID_HANDLE_VALUE);
  // Neither name: dropped silently, the connection stays.
  ASSERT_TRUE(WriteMessage(pipe.h, R"({"content":"nobody"})"));
  ASSERT_TRUE(WriteMessage(pipe.h, Notification("first", "1")));
  ASSERT_TRUE(WriteMessage(pipe.h, R"({"username":"second"})"));
  ASSERT_TRUE(WriteMessage(pipe.h, Notification("\xE5\xA4\xAA\xE9\x83\x8E", "3")));  // 太郎
  ASSERT_TRUE(WaitLogged("Queued notification from pipe: ", 3));
  server->ProcessPendingNotifications();
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0].displayName, L"first");
  EXPECT_EQ(received[1].displayName, L"second");
  EXPECT_EQ(received[2].displayName, std::wstring({0x592A, 0x90CE}));
  EXPECT_EQ(Log("Processing"), std::vector<std::string>{"[NotifServer] Processing 3 pending notifications"});
  EXPECT_EQ(Log("Calling callback").size(), 3u);
  EXPECT_EQ(Log("Pipe client connected").size(), 1u);
  EXPECT_EQ(Log("Pipe received: ").front(), "[NotifServer] Pipe received: {\"content\":\"nobody\"}");
  // The log copy of a non-ASCII name keeps only the low byte of each unit.
  EXPECT_EQ(Log("from pipe: ").back(), "[NotifServer] Queued notification from pipe: \x2A\xCE");
}

TEST_F(NotificationServerTest, PipeMessageSizeLimitAndZeroByte) {
  Start();
  Handle pipe;
  pipe.h = OpenPipe();
  ASSERT_NE(pipe.h, INVALID_HANDLE_VALUE);
  std::string cut = Notification("cut", "be");
  cut.insert(cut.find("be") + 2, std::string("\0fore", 5));
  ASSERT_TRUE(WriteMessage(pipe.h, cut));
  const std::string frame = Notification("whole", "");
  const std::string whole = Notification("whole", std::string(4095 - frame.size(), 'x'));
  ASSERT_EQ(whole.size(), 4095u);
  ASSERT_TRUE(WriteMessage(pipe.h, whole));
  ASSERT_TRUE(DrainUntil(2));
  EXPECT_EQ(received[0].content, L"be");
  EXPECT_EQ(received[1].content.size(), 4095 - frame.size());

  ASSERT_TRUE(WriteMessage(pipe.h, whole + "y"));
  ASSERT_TRUE(WaitLogged("Pipe read error: 234"));
  EXPECT_TRUE(WaitLogged("Waiting for pipe client connection...", 2));
  // The connection is gone: the next write fails, nothing more was queued.
  EXPECT_FALSE(WriteMessage(pipe.h, Notification("late")));
  server->ProcessPendingNotifications();
  EXPECT_EQ(received.size(), 2u);
}

TEST_F(NotificationServerTest, PipeServesOneClientAtATime) {
  Start();
  Handle first;
  first.h = OpenPipe();
  ASSERT_NE(first.h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(WaitLogged("Pipe client connected"));
  HANDLE second = CreateFileW(pipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
  if (second != INVALID_HANDLE_VALUE) CloseHandle(second);

  CloseHandle(first.h);
  first.h = INVALID_HANDLE_VALUE;
  ASSERT_TRUE(WaitLogged("Pipe client disconnected"));
  Handle next;
  next.h = OpenPipe();
  ASSERT_NE(next.h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(WriteMessage(next.h, Notification("next")));
  ASSERT_TRUE(DrainUntil(1));
}

TEST_F(NotificationServerTest, QueueIsCappedDroppingTheOldest) {
  Start();
  Handle pipe;
  pipe.h = OpenPipe();
  ASSERT_NE(pipe.h, INVALID_HANDLE_VALUE);
  const size_t total = kMaxPendingNotifications + 3;
  for (size_t i = 0; i < total; ++i) ASSERT_TRUE(WriteMessage(pipe.h, Notification("n" + std::to_string(i))));
  ASSERT_TRUE(WaitLogged("Queued notification from pipe: ", total));
  EXPECT_EQ(Log("Pending queue full").size(), 3u);
  server->ProcessPendingNotifications();
  ASSERT_EQ(received.size(), kMaxPendingNotifications);
  EXPECT_EQ(received.front().displayName, L"n3");
  EXPECT_EQ(received.back().displayName, L"n" + std::to_wstring(total - 1));
}

TEST_F(NotificationServerTest, NoCallbackDropsWithWarning) {
  server->SetCallback(nullptr);
  Start();
  Handle pipe;
  pipe.h = OpenPipe();
  ASSERT_TRUE(WriteMessage(pipe.h, Notification("a")));
  ASSERT_TRUE(WriteMessage(pipe.h, Notification("b")));
  ASSERT_TRUE(WaitLogged("Queued notification from pipe: ", 2));
  server->ProcessPendingNotifications();
  EXPECT_EQ(Log("WARNING: No callback set!").size(), 2u);
  server->ProcessPendingNotifications();
  EXPECT_EQ(Log("WARNING: No callback set!").size(), 2u);
}

TEST_F(NotificationServerTest, StopEndsWaitsReadsAndClientsPromptly) {
  Start();
  Handle pipe;
  pipe.h = OpenPipe();
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
  // Client threads ended before Stop returned.
  std::vector<std::string> lines = Log("[NotifServer] ");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "[NotifServer] Notification server stopped") << ::testing::PrintToString(lines);
  EXPECT_EQ(Log("WebSocket handshake failed").size(), 1u) << ::testing::PrintToString(lines);
}

TEST_F(NotificationServerTest, WebSocketHandshakeAnswers) {
  Start();
  {
    Socket s;
    ASSERT_TRUE(s.Connect(port));
    ASSERT_TRUE(s.Send(UpgradeRequest()));
    EXPECT_EQ(s.ReadResponse(),
              "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n");
  }
  struct Case {
    const char* name;
    std::string request;
    std::string expectedStart;
  };
  std::string lowerKey = UpgradeRequest();
  lowerKey.replace(lowerKey.find("Sec-WebSocket-Key"), 17, "sec-websocket-key");
  const Case cases[] = {
      {"lower-case key header", lowerKey, ""},
      {"file page origin", UpgradeRequest("Origin: null\r\n"), "HTTP/1.1 403 Forbidden\r\n"},
      {"web page origin", UpgradeRequest("Origin: https://example.com\r\n"), "HTTP/1.1 403 Forbidden\r\n"},
      {"discord origin", UpgradeRequest("Origin: https://discord.com\r\n"), "HTTP/1.1 101 "},
      {"canary origin", UpgradeRequest("Origin: https://canary.discord.com\r\n"), "HTTP/1.1 101 "},
  };
  for (const Case& c : cases) {
    Socket s;
    ASSERT_TRUE(s.Connect(port)) << c.name;
    ASSERT_TRUE(s.Send(c.request)) << c.name;
    std::string response = s.ReadResponse();
    EXPECT_EQ(response.substr(0, c.expectedStart.size()), c.expectedStart) << c.name;
    if (c.expectedStart.empty()) {
      EXPECT_EQ(response, "") << c.name;
    }
  }
  EXPECT_TRUE(WaitLogged("WebSocket handshake failed", 3));
  EXPECT_EQ(Log("WebSocket origin refused: ").front(), "[NotifServer] WebSocket origin refused: null");
}

TEST_F(NotificationServerTest, WebSocketWaitsForALateOrSplitRequest) {
  Start();
  Socket late, split;
  ASSERT_TRUE(late.Connect(port));
  ASSERT_TRUE(split.Connect(port));
  Sleep(400);
  const std::string request = UpgradeRequest();
  ASSERT_TRUE(late.Send(request));
  ASSERT_TRUE(split.Send(request.substr(0, 30)));
  Sleep(300);
  ASSERT_TRUE(split.Send(request.substr(30)));
  EXPECT_EQ(late.ReadResponse().rfind("HTTP/1.1 101 ", 0), 0u);
  EXPECT_EQ(split.ReadResponse().rfind("HTTP/1.1 101 ", 0), 0u);

  // Silence past the time-out window: the bound gives up and closes.
  Socket mute;
  ASSERT_TRUE(mute.Connect(port));
  EXPECT_TRUE(mute.ClosedByPeer());
  EXPECT_TRUE(WaitLogged("WebSocket handshake failed"));
}

TEST_F(NotificationServerTest, WebSocketFramesBecomeNotifications) {
  Start();
  Socket a, b;
  ASSERT_TRUE(a.Upgrade(port, "Origin: https://discord.com\r\n"));
  ASSERT_TRUE(b.Upgrade(port));
  // One receive is one frame, so the frames go one at a time, as senders are told.
  ASSERT_TRUE(a.Send(EncodeWebSocketFrame(kWebSocketOpPing, "p", 1)));
  Sleep(100);
  ASSERT_TRUE(a.SendFrame(R"({"content":"anonymous"})"));
  ASSERT_TRUE(WaitLogged("Failed to parse notification - displayName empty"));
  ASSERT_TRUE(a.SendFrame(Notification("from a", "hello")));
  ASSERT_TRUE(WaitLogged("Queued notification, pending count: 1"));
  ASSERT_TRUE(b.Send(EncodeWebSocketFrame(kWebSocketOpText, Notification("b1"), 3) +
                     EncodeWebSocketFrame(kWebSocketOpText, Notification("b2"), 4)));
  ASSERT_TRUE(WaitLogged("Queued notification, pending count: 2"));
  // A client that stays silent beyond the receive time-out keeps its connection.
  Sleep(1500);
  ASSERT_TRUE(b.SendFrame(Notification("b3")));
  ASSERT_TRUE(WaitLogged("Queued notification, pending count: 3"));
  server->ProcessPendingNotifications();
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0].displayName, L"from a");
  EXPECT_EQ(received[0].content, L"hello");
  EXPECT_EQ(received[1].displayName, L"b1");
  EXPECT_EQ(received[2].displayName, L"b3");
  EXPECT_EQ(Log("Failed to parse notification - displayName empty").size(), 1u);
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
  EXPECT_TRUE(WaitLogged("WebSocket client refused: 8 clients already connected"));
  clients[0].Close();
  ASSERT_TRUE(WaitLogged("WebSocket client disconnected"));
  Socket replacement;
  EXPECT_TRUE(replacement.Upgrade(port));
}

TEST_F(NotificationServerTest, SenderToolReachesBothEndpoints) {
  Start();
  const std::wstring tool = L"\"" + TestBinDirectory() + L"\\notify_send.exe\" ";
  const std::wstring fields =
      L" --displayName \"Tool \x592A\" --content \"a \\\"quoted\\\" word\" --channelName general --userId 7";
  struct Run {
    std::wstring arguments;
    int exitCode;
  };
  const Run runs[] = {
      {L"--pipe --pipe-name " + pipeName + fields, 0},
      {L"--websocket --port " + std::to_wstring(port) + fields, 0},
      {L"--websocket --origin https://discord.com --port " + std::to_wstring(port) + fields, 0},
      {L"--websocket --origin null --port " + std::to_wstring(port) + fields, 1},
      {L"--pipe --pipe-name " + pipeName + L" --content only", 2},
  };
  for (const Run& run : runs) {
    ChildProcess child;
    ASSERT_TRUE(child.Start(tool + run.arguments, TestBinDirectory(), true)) << NarrowAscii(run.arguments);
    EXPECT_EQ(child.WaitExit(15000), run.exitCode) << NarrowAscii(run.arguments);
  }
  ASSERT_TRUE(DrainUntil(3));
  for (const NotificationData& d : received) {
    EXPECT_EQ(d.displayName, std::wstring(L"Tool ") + wchar_t(0x592A));
    EXPECT_EQ(d.content, L"a \"quoted\" word");
    EXPECT_EQ(d.channelName, L"general");
    EXPECT_EQ(d.userId, L"7");
  }
  EXPECT_EQ(Log("Queued notification from pipe: ").size(), 1u);
  EXPECT_EQ(Log("Queued notification, pending count: ").size(), 2u);
}

TEST_F(NotificationServerTest, SecondServerTakesOverWhenTheFirstStops) {
  Start();
  // A second instance on the same pipe name and port: one line per failure,
  // then quiet retries until the first lets go.
  NotificationServer second(pipeName, port);
  std::vector<NotificationData> secondReceived;
  second.SetCallback([&](const NotificationData& data) { secondReceived.push_back(data); });
  ASSERT_TRUE(second.Start());
  ASSERT_TRUE(WaitLogged("WebSocket bind failed: "));
  ASSERT_TRUE(WaitLogged("Failed to create pipe: "));
  Sleep(2500);
  EXPECT_EQ(Log("WebSocket bind failed: ").size(), 1u);
  EXPECT_EQ(Log("Failed to create pipe: ").size(), 1u);

  server->Stop();
  ASSERT_TRUE(WaitFor([&] { return second.BoundPort() == port; }, 5000));
  Handle pipe;
  pipe.h = OpenPipe();
  ASSERT_NE(pipe.h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(WriteMessage(pipe.h, Notification("taken over")));
  Socket ws;
  ASSERT_TRUE(ws.Upgrade(port));
  ASSERT_TRUE(ws.SendFrame(Notification("taken over too")));
  ASSERT_TRUE(WaitFor(
      [&] {
        second.ProcessPendingNotifications();
        return secondReceived.size() >= 2;
      },
      5000));
  EXPECT_TRUE(received.empty());
}
