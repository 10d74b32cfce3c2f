// The plugin's side of both notification endpoints as blocking clients with
// bounded waits, and an in-process server to aim them at.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "notify/notification_server.h"

// A notification from the sender whose content is "<sender>#<sequence>".
std::string TaggedNotification(const std::string& sender, int sequence);
// An upgrade request with the RFC 6455 sample key and the extra header lines.
std::string UpgradeRequest(const std::string& extraHeaders = "");

class WebSocketPeer {
 public:
  WebSocketPeer() = default;
  ~WebSocketPeer() { Close(); }
  WebSocketPeer(const WebSocketPeer&) = delete;
  WebSocketPeer& operator=(const WebSocketPeer&) = delete;
  bool Connect(uint16_t port);  // receives time out after 3 s
  bool Upgrade(uint16_t port);  // Connect, request, and a 101 answer
  bool SendText(const std::string& payload);
  bool SendRaw(const std::string& bytes);
  std::string Response();  // until the header block ends, the server closes, or 3 s pass
  std::string Receive(size_t count);  // until count bytes came, the server closes, or 3 s pass
  bool ClosedByPeer();
  void Reset();  // abortive close (RST) instead of the orderly FIN of Close
  void Close();

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

class PipePeer {
 public:
  PipePeer() = default;
  ~PipePeer() { Close(); }
  PipePeer(const PipePeer&) = delete;
  PipePeer& operator=(const PipePeer&) = delete;
  bool Open(const std::wstring& pipeName, DWORD timeoutMs);  // retries while the instance is busy
  bool Send(const std::string& message);
  void Close();

 private:
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
};

// A NotificationServer in this process on a pipe name, a port and a
// debug.log of its own; the test thread drains it as the main loop does.
struct ServerUnderTest {
  ServerUnderTest();
  ~ServerUnderTest();
  bool Start();
  // Drains once a millisecond until done() holds or the time is up.
  bool DrainUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);
  std::vector<std::string> Log(const std::string& fragment = "") const;
  bool WaitLogged(const std::string& fragment, size_t count = 1) const;

  std::wstring pipeName;
  std::unique_ptr<NotificationServer> server;
  uint16_t port = 0;
  std::vector<NotificationData> received;
  std::vector<FeedDelivery> feed;
};
