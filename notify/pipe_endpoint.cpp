// The named-pipe endpoint: one client at a time, one notification per
// message. Overlapped I/O lets Stop end a wait or a read through stopEvent,
// so the handle has one owner, this thread, and is closed exactly once.
#include "notify/notification_server.h"

#include "app/text_convert.h"

namespace {

constexpr DWORD kPipeBufferSize = 4096;
constexpr DWORD kPipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;

enum class IoResult { kDone, kFailed, kStopped };

// Completes an overlapped operation that returned `started`; error is set on
// kFailed. A stop cancels the operation and waits for the cancel to land, so
// the OVERLAPPED and buffer are free again on return.
IoResult FinishOverlapped(HANDLE pipe, OVERLAPPED& io, BOOL started, HANDLE stopEvent, DWORD& bytes,
                          DWORD& error) {
  bytes = 0;
  error = 0;
  if (!started) {
    error = GetLastError();
    if (error != ERROR_IO_PENDING) return IoResult::kFailed;
    HANDLE events[2] = {io.hEvent, stopEvent};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
      CancelIoEx(pipe, &io);
      GetOverlappedResult(pipe, &io, &bytes, TRUE);
      return IoResult::kStopped;
    }
  }
  if (GetOverlappedResult(pipe, &io, &bytes, FALSE)) return IoResult::kDone;
  error = GetLastError();
  return IoResult::kFailed;
}

}  // namespace

void NotificationServer::PipeServerLoop() {
  EventHandle ioEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  DWORD lastError = 0;
  while (running) {
    HANDLE pipe = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED, kPipeMode, 1, 0,
                                   kPipeBufferSize, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
      // Another instance holding the name fails every second: one line per new error.
      DWORD error = GetLastError();
      if (error != lastError) Log("Failed to create pipe: " + std::to_string(error));
      lastError = error;
      WaitForSingleObject(stopEvent.Get(), 1000);
      continue;
    }
    lastError = 0;
    Log("Waiting for pipe client connection...");
    OVERLAPPED io = {};
    io.hEvent = ioEvent.Get();
    DWORD bytes = 0, error = 0;
    BOOL connected = ConnectNamedPipe(pipe, &io);
    // A client that came before the wait is connected already, and no I/O was started to finish.
    IoResult result = !connected && GetLastError() == ERROR_PIPE_CONNECTED
                          ? IoResult::kDone
                          : FinishOverlapped(pipe, io, connected, stopEvent.Get(), bytes, error);
    if (result == IoResult::kDone && running) {
      Log("Pipe client connected");
      HandlePipeClient(pipe, io);
    }
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
  }
}

void NotificationServer::HandlePipeClient(HANDLE pipe, OVERLAPPED& io) {
  const uint64_t connection = NextConnection();
  bool carriesFeed = false;
  ReadPipeMessages(pipe, io, connection, &carriesFeed);
  EndFeedConnection(connection, carriesFeed);
}

void NotificationServer::ReadPipeMessages(HANDLE pipe, OVERLAPPED& io, uint64_t connection, bool* carriesFeed) {
  char buffer[kPipeBufferSize];
  while (running) {
    DWORD bytes = 0, error = 0;
    BOOL read = ReadFile(pipe, buffer, kPipeBufferSize - 1, nullptr, &io);
    IoResult result = FinishOverlapped(pipe, io, read, stopEvent.Get(), bytes, error);
    if (result == IoResult::kStopped) return;
    if (result == IoResult::kFailed) {
      Log(error == ERROR_BROKEN_PIPE ? std::string("Pipe client disconnected")
                                     : "Pipe read error: " + std::to_string(error));
      return;
    }
    if (bytes == 0) {
      Log("Pipe read error: empty message");
      return;
    }
    buffer[bytes] = '\0';
    const std::string text(buffer);
    Log("Pipe received " + std::to_string(text.size()) + " bytes");  // never the message itself
    TakeMessage(connection, text, carriesFeed, [](const NotificationData& data, size_t) {
      return "Queued notification from pipe: " + WideToBytes(data.displayName);
    });
  }
}
