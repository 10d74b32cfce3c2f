// Receives notifications from the companion plugin over a named pipe and a
// loopback WebSocket, each on a thread of its own, and hands them to the
// user-interface thread through a queue that the main loop drains when woken.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "app/win_handles.h"
#include "notify/notification_data.h"
#include "notify/voice_feed.h"
#include "notify/websocket_frame.h"

extern const wchar_t kNotificationPipeName[];
constexpr uint16_t kNotificationWebSocketPort = 47523;
// What one local sender can make the process hold.
constexpr size_t kMaxWebSocketClients = 16;
constexpr size_t kMaxPendingNotifications = 100;
// A full channel's list in parts and a burst of speaking changes fit.
constexpr size_t kMaxPendingFeedDeliveries = 1000;

class NotificationServer {
 public:
  // Tests pass their own pipe name and port (0: any free port, see BoundPort).
  explicit NotificationServer(const std::wstring& pipeName = kNotificationPipeName,
                              uint16_t webSocketPort = kNotificationWebSocketPort);
  ~NotificationServer();
  NotificationServer(const NotificationServer&) = delete;
  NotificationServer& operator=(const NotificationServer&) = delete;

  void SetCallback(std::function<void(const NotificationData&)> cb);
  // The voice feed's messages and the ends of the connections that carried
  // them, on the user-interface thread in order of arrival; set before Start.
  void SetFeedCallback(std::function<void(const FeedDelivery&)> cb) { feedCallback = std::move(cb); }
  // Called on an endpoint thread after each push, outside the lock, so the
  // user-interface thread can be woken (a posted message); set before Start.
  void SetWakeCallback(std::function<void()> cb) { wakeCallback = std::move(cb); }
  // Called on the listener thread with the port once the WebSocket listens
  // and again every 5 s while it does, and with 0 once it has stopped; set
  // before Start.
  void SetListeningCallback(std::function<void(uint16_t port)> cb) { listeningCallback = std::move(cb); }
  // False only when a thread cannot be created; nothing runs then.
  bool Start();
  // Returns once both endpoint threads and every client thread have ended.
  void Stop();
  // User-interface thread, when woken: delivers everything queued, oldest
  // first (the feed's, then the notifications).
  void ProcessPendingNotifications();

  // The port the listener is bound to once listening; 0 before and after.
  uint16_t BoundPort() const { return boundPort.load(); }

 private:
  void Log(const std::string& message);
  // The endpoints' shared intake of one message. One with a "kind" is the
  // voice feed's (*carriesFeed is set; a faulty one gets a log line and is
  // dropped); anything else is a notification, queued when it has a display
  // name (endpointLine gives the endpoint's own log line from the queue
  // length after the push). False for a notification without a display name.
  bool TakeMessage(uint64_t connection, const std::string& text, bool* carriesFeed,
                   const std::function<std::string(const NotificationData&, size_t pending)>& endpointLine);
  void Enqueue(const NotificationData& data, const std::function<std::string(size_t pending)>& endpointLine);
  void EnqueueFeed(FeedDelivery delivery);
  // A connection that carried the feed has closed.
  void EndFeedConnection(uint64_t connection, bool carriedFeed);
  uint64_t NextConnection() { return ++connectionCount; }

  void PipeServerLoop();
  void HandlePipeClient(HANDLE pipe, OVERLAPPED& io);
  void ReadPipeMessages(HANDLE pipe, OVERLAPPED& io, uint64_t connection, bool* carriesFeed);

  void WebSocketServerLoop();
  // Bound, listening and non-blocking; INVALID_SOCKET when a step fails
  // (*error: its socket error code).
  SOCKET OpenWebSocketListener(uint16_t port, bool logFailure, int* error);
  // On webSocketPort, or on a free port when another socket holds that one.
  SOCKET OpenWebSocketListenerOrAnother(bool logFailure);
  void AcceptWebSocketClient(SOCKET client);
  void HandleWebSocketClient(SOCKET client);
  void ReceiveWebSocketFrames(SOCKET client, uint64_t connection, WSAEVENT readable, bool* carriesFeed);
  // False when the frame ends the connection (Close).
  bool HandleWebSocketFrame(SOCKET client, uint64_t connection, const WebSocketFrame& frame, bool* carriesFeed);
  bool PerformWebSocketHandshake(SOCKET client);
  void ReleaseWebSocketClient(SOCKET client);

  const std::wstring pipeName;
  const uint16_t webSocketPort;

  std::atomic<bool> running{false};
  std::thread pipeThread;
  std::thread webSocketThread;
  // The pipe instance and the listening socket belong to their endpoint
  // threads, which alone close them; Stop wakes the threads through this
  // event and the running flag.
  EventHandle stopEvent;
  std::atomic<uint16_t> boundPort{0};

  std::function<void(const NotificationData&)> callback;
  std::function<void(const FeedDelivery&)> feedCallback;
  std::function<void()> wakeCallback;
  std::function<void(uint16_t)> listeningCallback;
  std::deque<NotificationData> pendingQueue;
  std::deque<FeedDelivery> pendingFeed;  // under queueMutex too
  // Numbers every pipe client and WebSocket connection, so the feed can tell
  // them apart (a socket's number may be reused).
  std::atomic<uint64_t> connectionCount{0};
  std::mutex queueMutex;

  // Live WebSocket client threads (detached) and their sockets: Stop shuts
  // the sockets down and waits until the set is empty, so no client thread
  // outlives the server.
  std::set<SOCKET> clientSockets;
  std::mutex clientsMutex;
  std::condition_variable clientsDone;

  bool socketsStarted = false;
};
