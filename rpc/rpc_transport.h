// The byte stream to the Discord desktop client's local RPC pipe. The pipe is
// read with one overlapped read kept pending, so nothing waits for Discord,
// READY included (Discord may queue a handshake for 30 s); a thread-pool wait
// on the read's event says when bytes arrived. Every write is bounded. A
// failure that loses the connection comes back as false and the line that
// says why; the caller disconnects.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/win_handles.h"
#include "rpc/rpc_frame.h"

class RpcTransport {
 public:
  // log receives the line of a frame passed over, and of events that could
  // not be set up.
  explicit RpcTransport(std::function<void(const std::string&)> log);
  ~RpcTransport();
  RpcTransport(const RpcTransport&) = delete;
  RpcTransport& operator=(const RpcTransport&) = delete;

  // Opens the first of "\\.\pipe\discord-ipc-0".."9" that exists.
  bool Open();
  // Ends the pending read, closes the pipe and drops what was received.
  void Close();
  bool IsOpen() const { return static_cast<bool>(pipe); }
  // Called on a thread-pool thread whenever a read completes; never after
  // the destructor has returned.
  void WakeWith(std::function<void()> wake);
  // The same wake for another thread (the token worker), which may outlive
  // this object; after the destructor it wakes no one.
  std::function<void()> Waker() const;

  // False when the pipe is not open (failure stays empty), or when the
  // write failed or Discord did not take it in time (failure says which).
  bool Send(uint32_t opcode, const std::string& payload, std::string* failure);
  bool StartRead();
  // No system call: the caller polls on every pass of its loop.
  bool ReadArrived() const;
  // Takes in every completed read and keeps one pending; false when the
  // pipe broke.
  bool ReceiveNow();
  // The next whole frame received, passing over opcodes no Discord sends.
  // False when none is whole yet, or when the stream cannot be followed
  // (failure says why).
  bool TakeFrame(RpcFrame& frame, std::string* failure);
  bool MidFrame() const { return !inbox.empty(); }
  // Until the frame begun must be complete; 0xFFFFFFFF when none is begun.
  uint32_t MsUntilFrameOverdue(uint32_t now) const;

 private:
  struct WakeLink;
  static void CALLBACK OnReadSignalled(void* link, BOOLEAN timedOut);
  bool FinishRead(bool wait);

  std::function<void(const std::string&)> log;
  std::shared_ptr<WakeLink> wakeLink;
  std::vector<char> readBuffer;
  EventHandle readEvent;  // auto-reset; signalled when the read completes
  EventHandle syncEvent;  // manual-reset; the caller's own waits for writes
  WaitRegistration readWait;  // calls the wake on readEvent
  FileHandle pipe{INVALID_HANDLE_VALUE};
  OVERLAPPED readOverlapped = {};
  bool readPending = false;
  // Received bytes not yet a whole frame, and since when.
  std::string inbox;
  uint32_t inboxSince = 0;
};
