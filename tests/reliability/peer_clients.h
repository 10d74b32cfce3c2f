// Reliability tests: the plugin's side of both notification endpoints, as
// blocking clients with bounded waits, and the process figures the tests
// compare before and after a load.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "notify/notification_data.h"

// A notification whose content carries "<sender>#<sequence>", the tag the
// load tests check order and loss by.
std::string TaggedNotification(const std::string& sender, int sequence);
// Splits a tag back; false for content that is not one.
bool ParseTag(const std::wstring& content, std::string& sender, int& sequence);

class WebSocketPeer {
 public:
  WebSocketPeer() = default;
  ~WebSocketPeer() { Close(); }
  WebSocketPeer(const WebSocketPeer&) = delete;
  WebSocketPeer& operator=(const WebSocketPeer&) = delete;

  bool Connect(uint16_t port);
  // Connect plus the upgrade; true once the 101 answer arrived (3 s bound).
  bool Upgrade(uint16_t port);
  bool SendText(const std::string& payload);
  bool SendRaw(const std::string& bytes);
  // Abortive close (RST) instead of the orderly FIN of Close.
  void Reset();
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

  // Retries while the single instance is busy or between instances.
  bool Open(const std::wstring& pipeName, DWORD timeoutMs);
  bool Send(const std::string& message);
  void Close();

 private:
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
};

struct ProcessFigures {
  DWORD handles = 0;
  bool handlesProbed = false;  // counted by probing handle values (Wine)
  DWORD gdiObjects = 0;
  DWORD userObjects = 0;
  // Wine's GetGuiResources is a stub: GDI objects are then counted in the
  // process's GDI handle table, and USER objects as the windows it owns.
  bool guiObjectsProbed = false;
  size_t privateBytes = 0;
};
// The handle probe takes a few hundred milliseconds.
ProcessFigures MeasureProcess(HANDLE process);
