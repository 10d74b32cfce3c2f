#include "notify/notification_server.h"

#include <system_error>

#include "app/log.h"
#include "app/text_convert.h"
#include "notify/notification_parse.h"

const wchar_t kNotificationPipeName[] = L"\\\\.\\pipe\\VoxmereNotifications";

NotificationServer::NotificationServer(const std::wstring& pipeName, uint16_t webSocketPort)
    : pipeName(pipeName), webSocketPort(webSocketPort) {
  WSADATA wsa;
  socketsStarted = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
  stopEvent = EventHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

NotificationServer::~NotificationServer() {
  Stop();
  if (socketsStarted) WSACleanup();
}

void NotificationServer::SetCallback(std::function<void(const NotificationData&)> cb) {
  callback = std::move(cb);
}

bool NotificationServer::Start() {
  if (running.exchange(true)) return true;
  if (!stopEvent) {
    // Without it nothing could end the endpoint threads' waits.
    Log("Failed to create the stop event");
    running = false;
    return false;
  }
  ResetEvent(stopEvent.Get());
  try {
    pipeThread = std::thread(&NotificationServer::PipeServerLoop, this);
    webSocketThread = std::thread(&NotificationServer::WebSocketServerLoop, this);
  } catch (const std::system_error& e) {
    Log(std::string("Failed to start a server thread: ") + e.what());
    Stop();
    return false;
  }
  Log("Notification server started (pipe + websocket)");
  return true;
}

void NotificationServer::Stop() {
  running.exchange(false);
  if (stopEvent) SetEvent(stopEvent.Get());
  if (pipeThread.joinable()) pipeThread.join();
  if (webSocketThread.joinable()) webSocketThread.join();
  {
    // Each client thread wakes on the stop event; the shutdown also ends a
    // handshake's bounded wait at once.
    std::unique_lock<std::mutex> lock(clientsMutex);
    for (SOCKET s : clientSockets) shutdown(s, SD_BOTH);
    clientsDone.wait(lock, [this] { return clientSockets.empty(); });
  }
  Log("Notification server stopped");
}

void NotificationServer::ProcessPendingNotifications() {
  std::deque<FeedDelivery> feed;
  {
    std::lock_guard<std::mutex> lock(queueMutex);
    feed.swap(pendingFeed);
  }
  for (const FeedDelivery& delivery : feed)
    if (feedCallback) feedCallback(delivery);
  std::lock_guard<std::mutex> lock(queueMutex);
  if (pendingQueue.empty()) return;
  Log("Processing " + std::to_string(pendingQueue.size()) + " pending notifications");
  while (!pendingQueue.empty()) {
    NotificationData data = pendingQueue.front();
    pendingQueue.pop_front();
    if (callback) {
      Log("Calling callback for notification");
      callback(data);
    } else {
      Log("WARNING: No callback set!");
    }
  }
}

void NotificationServer::Log(const std::string& message) {
  WriteLogLine(L"[NotifServer] " + Utf8ToWide(message));
}

bool NotificationServer::TakeMessage(
    uint64_t connection, const std::string& text, bool* carriesFeed,
    const std::function<std::string(const NotificationData&, size_t pending)>& endpointLine) {
  std::optional<Json> parsed = ParseJson(text);
  if (parsed && IsFeedMessage(*parsed)) {
    *carriesFeed = true;
    std::string error;
    std::optional<FeedMessage> message = ReadFeedMessage(*parsed, text.size(), &error);
    if (!message) {
      Log("Voice feed message dropped: " + error);
      return true;
    }
    EnqueueFeed(FeedDelivery{connection, std::move(message)});
    return true;
  }
  std::string problem;
  NotificationData data = ParseNotification(text, &problem);
  if (!problem.empty()) Log("Notification is not valid JSON, fields before the fault kept: " + problem);
  if (data.displayName.empty()) return false;
  Enqueue(data, [&](size_t pending) { return endpointLine(data, pending); });
  return true;
}

void NotificationServer::EndFeedConnection(uint64_t connection, bool carriedFeed) {
  if (carriedFeed) EnqueueFeed(FeedDelivery{connection, std::nullopt});
}

void NotificationServer::EnqueueFeed(FeedDelivery delivery) {
  {
    std::lock_guard<std::mutex> lock(queueMutex);
    if (pendingFeed.size() >= kMaxPendingFeedDeliveries) {
      pendingFeed.pop_front();
      Log("Voice feed queue full (" + std::to_string(kMaxPendingFeedDeliveries) + "), dropped the oldest message");
    }
    pendingFeed.push_back(std::move(delivery));
  }
  if (wakeCallback) wakeCallback();
}

void NotificationServer::Enqueue(const NotificationData& data,
                                 const std::function<std::string(size_t pending)>& endpointLine) {
  {
    std::lock_guard<std::mutex> lock(queueMutex);
    if (pendingQueue.size() >= kMaxPendingNotifications) {
      pendingQueue.pop_front();
      Log("Pending queue full (" + std::to_string(kMaxPendingNotifications) +
          "), dropped the oldest notification");
    }
    pendingQueue.push_back(data);
    Log(endpointLine(pendingQueue.size()));
  }
  if (wakeCallback) wakeCallback();
}
