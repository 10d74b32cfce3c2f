// NotificationServer in-process: the pipe endpoint with a client in this
// process and the WebSocket endpoint over loopback on a port of its own,
// drained as the main loop drains it.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "notify/websocket_frame.h"
#include "tests/reliability/peer_clients.h"
#include "tests/support/child_process.h"

namespace {

std::string Notification(const std::string& displayName, const std::string& content = "") {
  return R"({"displayName":")" + displayName + R"(","content":")" + content + R"("})";
}

class NotificationServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(s_.Start()); }
  ServerUnderTest s_;
};

TEST_F(NotificationServerTest, PipeMessagesOneClientAtATimeAndTheQueueBound) {
  PipePeer pipe;
  ASSERT_TRUE(pipe.Open(s_.pipeName, 5000));
  EXPECT_EQ(CreateFileW(s_.pipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
  std::string cut = Notification("cut", "be");
  cut.insert(cut.find("be") + 2, std::string("\0fore", 5));
  const std::string whole = Notification("whole", std::string(4095 - Notification("whole").size(), 'x'));
  for (const std::string& message : {std::string(R"({"content":"nobody"})"), cut,
                                     std::string(R"({"username":"fallback"})"), Notification("\xE5\xA4\xAA"), whole})
    ASSERT_TRUE(pipe.Send(message));
  ASSERT_TRUE(s_.DrainUntil([&] { return s_.received.size() == 4; }));
  EXPECT_EQ(s_.received[0].content, L"be");
  EXPECT_EQ(s_.received[1].displayName, L"fallback");
  EXPECT_EQ(s_.received[2].displayName, std::wstring(1, 0x592A));
  EXPECT_EQ(s_.received[3].content.size(), 4095 - Notification("whole").size());
  EXPECT_EQ(s_.Log("from pipe: ")[2], "[NotifServer] Queued notification from pipe: \x2A");  // low bytes

  // One byte over the message size: the connection ends and the next client is served.
  ASSERT_TRUE(pipe.Send(whole + "y"));
  ASSERT_TRUE(s_.WaitLogged("Pipe read error: 234"));
  EXPECT_FALSE(pipe.Send(Notification("late")));
  ASSERT_TRUE(pipe.Open(s_.pipeName, 5000));
  s_.received.clear();
  for (size_t i = 0; i < kMaxPendingNotifications + 3; ++i) ASSERT_TRUE(pipe.Send(Notification("n" + std::to_string(i))));
  ASSERT_TRUE(s_.WaitLogged("Pending queue full", 3));
  s_.server->ProcessPendingNotifications();
  ASSERT_EQ(s_.received.size(), kMaxPendingNotifications);
  EXPECT_EQ(s_.received.front().displayName, L"n3");
}

TEST_F(NotificationServerTest, WebSocketHandshakeAnswers) {
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
      {"discord origin", UpgradeRequest("Origin: https://discord.com\r\n"), 0, "HTTP/1.1 101 "},
  };
  for (const auto& c : cases) {
    WebSocketPeer peer;
    ASSERT_TRUE(peer.Connect(s_.port)) << c.name;
    Sleep(c.delayMs);
    ASSERT_TRUE(peer.SendRaw(c.request.substr(0, 30))) << c.name;
    Sleep(c.delayMs);
    ASSERT_TRUE(peer.SendRaw(c.request.substr(30))) << c.name;
    const std::string response = peer.Response();
    EXPECT_EQ(response.substr(0, c.expected.size()), c.expected) << c.name;
    EXPECT_TRUE(!c.expected.empty() || response.empty()) << c.name;
  }
  EXPECT_EQ(s_.Log("WebSocket origin refused: "), std::vector<std::string>{"[NotifServer] WebSocket origin refused: null"});
  WebSocketPeer mute;  // never sends: given up after the bounded wait
  ASSERT_TRUE(mute.Connect(s_.port));
  EXPECT_TRUE(mute.ClosedByPeer());
  EXPECT_TRUE(s_.WaitLogged("WebSocket handshake failed", 3));
}

// How a fast peer's bytes arrive: several frames and a ping in one segment,
// a frame cut anywhere. Every notification must come out, in order.
TEST_F(NotificationServerTest, WebSocketFramesAreCutFromTheStreamAndClientsAreCapped) {
  auto frame = [](int sequence) { return EncodeWebSocketFrame(kWebSocketOpText, TaggedNotification("s", sequence), 7); };
  const std::string three = frame(0) + EncodeWebSocketFrame(kWebSocketOpPing, "p", 1) + frame(1) + frame(2);
  WebSocketPeer peer;
  ASSERT_TRUE(peer.Upgrade(s_.port));
  for (size_t cut : {size_t(1), size_t(2), size_t(5), three.size() / 2, three.size() - 1}) {
    s_.received.clear();
    ASSERT_TRUE(peer.SendRaw(three.substr(0, cut)));
    Sleep(50);  // the first part is received on its own
    ASSERT_TRUE(peer.SendRaw(three.substr(cut)));
    ASSERT_TRUE(s_.DrainUntil([&] { return s_.received.size() >= 3; })) << "cut at " << cut;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(s_.received[i].content, L"s#" + std::to_wstring(i)) << "cut at " << cut;
  }
  ASSERT_TRUE(peer.SendText(R"({"content":"anonymous"})"));
  ASSERT_TRUE(s_.WaitLogged("Failed to parse notification - displayName empty"));
  Sleep(1500);  // silence beyond the receive time-out keeps the connection
  ASSERT_TRUE(peer.SendText(Notification("still here")));
  ASSERT_TRUE(s_.DrainUntil([&] { return s_.received.size() == 4; }));
  // A frame larger than the receive buffer cannot be held: the connection
  // ends with a line instead of reading its payload as frames.
  ASSERT_TRUE(peer.SendRaw(std::string("\x81\xFE\x40\x00", 4) + std::string(0x4000, 'x')));
  EXPECT_TRUE(s_.WaitLogged("bytes exceeds 8192, connection closed"));
  EXPECT_TRUE(peer.ClosedByPeer());

  std::vector<WebSocketPeer> clients(kMaxWebSocketClients);
  for (WebSocketPeer& c : clients) ASSERT_TRUE(c.Upgrade(s_.port));
  WebSocketPeer extra;
  ASSERT_TRUE(extra.Connect(s_.port));
  EXPECT_TRUE(extra.ClosedByPeer());
  EXPECT_TRUE(s_.WaitLogged("WebSocket client refused: " + std::to_string(kMaxWebSocketClients) +
                            " clients already connected"));
  clients[0].Close();
  ASSERT_TRUE(s_.WaitLogged("WebSocket client disconnected"));
  EXPECT_TRUE(extra.Upgrade(s_.port));
}

TEST_F(NotificationServerTest, SecondServerTakesOverWhenTheFirstStops) {
  NotificationServer second(s_.pipeName, s_.port);
  std::vector<NotificationData> secondReceived;
  second.SetCallback([&](const NotificationData& data) { secondReceived.push_back(data); });
  ASSERT_TRUE(second.Start());
  ASSERT_TRUE(s_.WaitLogged("WebSocket bind failed: "));
  ASSERT_TRUE(s_.WaitLogged("Failed to create pipe: "));
  s_.server->Stop();
  ASSERT_TRUE(WaitFor([&] { return second.BoundPort() == s_.port; }, 5000));
  PipePeer pipe;
  ASSERT_TRUE(pipe.Open(s_.pipeName, 5000) && pipe.Send(Notification("over the pipe")));
  WebSocketPeer ws;
  ASSERT_TRUE(ws.Upgrade(s_.port) && ws.SendText(Notification("over the socket")));
  EXPECT_TRUE(WaitFor([&] { return second.ProcessPendingNotifications(), secondReceived.size() >= 2; }, 5000));
}

}  // namespace
