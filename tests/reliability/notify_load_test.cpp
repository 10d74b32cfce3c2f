// NotificationServer under load, in this process: four WebSocket clients and
// the pipe flood it with 10 000 notifications while other clients open and
// drop a thousand connections in every way a peer goes away. Each
// notification arrives once and in order, only a full queue drops (logged),
// and no thread, socket or memory is left behind.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/reliability/peer_clients.h"
#include "tests/support/child_process.h"

namespace {

constexpr int kWebSockets = 4;
constexpr int kPerSender = 2000;  // 5 senders: 10 000 notifications
constexpr int kDroppedConnections = 1000;

// The ways a peer goes away: after the upgrade, by reset, before sending
// anything, in the middle of the request, in the middle of a frame.
void DropConnection(WebSocketPeer& peer, uint16_t port, int way) {
  if (way == 2 || way == 3 ? !peer.Connect(port) : !peer.Upgrade(port)) return;
  if (way == 3) peer.SendRaw("GET / HTTP/1.1\r\nSec-WebSocket-");
  if (way == 4) peer.SendRaw(std::string("\x81\xFE\x10\x00\x01\x02\x03\x04partial", 12));
  if (way == 1 || way == 3) peer.Reset();
}

class NotifyLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Only the tags are kept: 10 000 whole records would themselves raise
    // the memory figure by megabytes.
    s_.server->SetCallback([this](const NotificationData& data) {
      std::string sender;
      int sequence = 0;
      if (ParseTag(data.content, sender, sequence)) delivered_[sender].push_back(sequence);
      ++deliveredCount_;
    });
    ASSERT_TRUE(s_.Start());
  }

  // Floods with count tagged notifications per sender and churns `drops`
  // connections at once; returns how many notifications were written.
  int Load(int count, int drops) {
    std::atomic<int> written{0}, running{0};
    std::vector<std::thread> threads;
    const std::string round = "r" + std::to_string(++round_);
    auto sender = [&](std::function<bool(const std::string&)> send, const std::string& name) {
      for (int seq = 0; seq < count && send(TaggedNotification(name + round, seq)); ++seq) ++written;
      // Closed only after the server has read everything: a close with
      // unread data may reset the connection.
      Sleep(1500);
      --running;
    };
    for (int i = 0; i < kWebSockets; ++i) {
      ++running;
      threads.emplace_back([&, i] {
        WebSocketPeer peer;
        if (peer.Upgrade(s_.port)) sender([&](const std::string& t) { return peer.SendText(t); }, "ws" + std::to_string(i));
        else --running;
      });
    }
    ++running;
    threads.emplace_back([&] {
      PipePeer peer;
      if (peer.Open(s_.pipeName, 5000)) sender([&](const std::string& t) { return peer.Send(t); }, "pipe");
      else --running;
    });
    constexpr int kChurners = 4;  // with the senders, well below the server's client cap
    for (int t = 0; t < kChurners; ++t)
      threads.emplace_back([&, t] {
        for (int i = t; i < drops; i += kChurners) {
          WebSocketPeer peer;
          DropConnection(peer, s_.port, i % 5);
        }
      });
    s_.DrainUntil([&] { return running == 0; }, 60000);
    for (std::thread& t : threads) t.join();
    s_.DrainUntil([] { return false; }, 200);
    return written;
  }

  ServerUnderTest s_;
  int round_ = 0;
  std::map<std::string, std::vector<int>> delivered_;
  size_t deliveredCount_ = 0;
};

TEST_F(NotifyLoadTest, TenThousandArriveOnceInOrderWhileAThousandConnectionsDrop) {
  // A warm-up round first, so the baseline includes the heap and threads
  // that clients and log writes need anyway.
  ASSERT_EQ(Load(100, 20), (kWebSockets + 1) * 100);
  // The warm-up's server-side client threads end after it: wait until the
  // handle count stops falling.
  ProcessFigures before = MeasureProcess(GetCurrentProcess());
  WaitFor([&] {
    const ProcessFigures now = MeasureProcess(GetCurrentProcess());
    const bool settled = now.handles >= before.handles;
    before = now;
    return settled;
  }, 5000);
  delivered_.clear();
  deliveredCount_ = 0;
  const size_t droppedBefore = s_.Log("Pending queue full").size();

  const ULONGLONG start = GetTickCount64();
  const int written = Load(kPerSender, kDroppedConnections);
  const ULONGLONG elapsed = GetTickCount64() - start;
  ASSERT_EQ(written, (kWebSockets + 1) * kPerSender);

  ASSERT_EQ(delivered_.size(), static_cast<size_t>(kWebSockets + 1)) << "a sender got nothing through";
  for (const auto& [sender, sequences] : delivered_)
    for (size_t i = 1; i < sequences.size(); ++i)
      ASSERT_LT(sequences[i - 1], sequences[i]) << sender << ": out of order or delivered twice at " << i;
  const size_t dropped = s_.Log("Pending queue full").size() - droppedBefore;
  EXPECT_EQ(deliveredCount_ + dropped, static_cast<size_t>(written))
      << deliveredCount_ << " delivered, " << dropped << " dropped by the queue bound";
  EXPECT_TRUE(s_.Log("WebSocket client refused").empty());

  // Thread handles close as the detached client threads finish; a little
  // slack. The heap's high-water mark rises by about 1 MB whatever the
  // number of connections; a leak per connection would keep rising.
  ProcessFigures after;
  EXPECT_TRUE(WaitFor([&] { return (after = MeasureProcess(GetCurrentProcess())).handles <= before.handles + 5; }, 15000))
      << "client threads or sockets left: handles " << before.handles << " -> " << after.handles;
  EXPECT_LT(after.privateBytes, before.privateBytes + 4 * 1024 * 1024);
  std::printf("load: %d notifications and %d dropped connections in %llu ms, %zu delivered, %zu dropped at the "
              "queue bound, private bytes %zu -> %zu, handles %lu -> %lu\n",
              written, kDroppedConnections, elapsed, deliveredCount_, dropped, before.privateBytes,
              after.privateBytes, before.handles, after.handles);
}

}  // namespace
