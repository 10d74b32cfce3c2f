// NotificationServer under load, in this process: four WebSocket clients and
// the pipe send 10 000 notifications while other clients open and drop a
// thousand connections in every way a peer goes away. Each notification
// arrives once and in order, only a full queue drops (logged), and no thread,
// socket or memory is left behind.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>
#include <utility>

#include "tests/reliability/peer_clients.h"
#include "tests/support/child_process.h"

TEST(NotifyLoadTest, TenThousandArriveOnceInOrderWhileAThousandConnectionsDrop) {
  ServerUnderTest s;
  std::map<std::wstring, std::vector<int>> delivered;  // tags only: whole records would raise the memory figure
  size_t deliveredCount = 0;
  s.server->SetCallback([&](const NotificationData& data) {
    delivered[data.displayName].push_back(std::stoi(data.content.substr(data.content.rfind(L'#') + 1)));
    ++deliveredCount;
  });
  ASSERT_TRUE(s.Start());
  // Five senders with `count` each, four churners dropping `drops` connections
  // after the upgrade, by reset, before any request, in the middle of the
  // request or of a frame. Senders close only once all is delivered: a close
  // with unread data may reset the connection.
  auto load = [&](int count, int drops, const std::string& round) {
    std::atomic<int> written{0}, sending{5};
    std::atomic<bool> closing{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 5; ++i)
      threads.emplace_back([&, i] {
        WebSocketPeer ws;
        PipePeer pipe;
        const bool open = i < 4 ? ws.Upgrade(s.port) : pipe.Open(s.pipeName, 5000);
        for (int seq = 0; open && seq < count; ++seq) {
          const std::string text = TaggedNotification("s" + std::to_string(i) + round, seq);
          if (!(i < 4 ? ws.SendText(text) : pipe.Send(text))) break;
          ++written;
        }
        --sending;
        WaitFor([&] { return closing.load(); }, 60000);
      });
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([&, t] {
        for (int i = t, way = t; i < drops; i += 4, way = i % 5) {
          WebSocketPeer peer;
          if (way == 2 || way == 3 ? !peer.Connect(s.port) : !peer.Upgrade(s.port)) continue;
          if (way == 3) peer.SendRaw("GET / HTTP/1.1\r\nSec-WebSocket-");
          if (way == 4) peer.SendRaw(std::string("\x81\xFE\x10\x00\x01\x02\x03\x04partial", 12));
          if (way == 1 || way == 3) peer.Reset();
        }
      });
    s.DrainUntil([&] { return sending == 0 && deliveredCount >= size_t(written); }, 60000);
    closing = true;
    for (std::thread& t : threads) t.join();
    return int(written);
  };
  // A warm-up round first, so the baseline includes what clients and log
  // writes need anyway; its server-side threads end after it, so wait until
  // the handle count stops falling.
  ASSERT_EQ(load(100, 20, "warm"), 500);
  ProcessFigures before = MeasureProcess(GetCurrentProcess());
  WaitFor([&] {
    const ProcessFigures now = MeasureProcess(GetCurrentProcess());
    return std::exchange(before, now).handles <= now.handles;
  }, 5000);
  delivered.clear();
  deliveredCount = 0;
  const size_t droppedBefore = s.Log("Pending queue full").size();
  const ULONGLONG start = GetTickCount64();
  ASSERT_EQ(load(2000, 1000, ""), 10000);
  const ULONGLONG elapsed = GetTickCount64() - start;
  ASSERT_EQ(delivered.size(), 5u) << "a sender got nothing through";
  for (const auto& [sender, sequences] : delivered)
    for (size_t i = 1; i < sequences.size(); ++i)
      ASSERT_LT(sequences[i - 1], sequences[i]) << "out of order or twice at " << i;
  const size_t dropped = s.Log("Pending queue full").size() - droppedBefore;
  EXPECT_EQ(deliveredCount + dropped, 10000u) << dropped << " dropped by the queue bound";
  EXPECT_TRUE(s.Log("WebSocket client refused").empty());
  // Thread handles close as the detached client threads finish. The heap's
  // high-water mark rises by about 1 MB whatever the number of connections.
  ProcessFigures after;
  EXPECT_TRUE(WaitFor([&] { return (after = MeasureProcess(GetCurrentProcess())).handles <= before.handles + 5; }, 15000))
      << "threads or sockets left: handles " << before.handles << " -> " << after.handles;
  EXPECT_LT(after.privateBytes, before.privateBytes + 4 * 1024 * 1024);
  std::printf("load: 10000 in %llu ms, %zu delivered, %zu dropped, private bytes %zu -> %zu, handles %lu -> %lu\n",
              elapsed, deliveredCount, dropped, before.privateBytes, after.privateBytes, before.handles, after.handles);
}
