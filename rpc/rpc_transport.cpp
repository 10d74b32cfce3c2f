#include "rpc/rpc_transport.h"

#include <mutex>

namespace {

constexpr int kPipeCount = 10;
// Every frame, once its first byte is here, must be complete within this;
// Discord writes a frame at once. (READY itself may take 30 s to come.)
constexpr uint32_t kFrameWaitMs = 2000;
// A healthy Discord takes a write at once; one that does not is hung, and
// the user-interface thread must not wait for it any longer than this.
constexpr DWORD kWriteWaitMs = 500;
constexpr DWORD kReadBufferBytes = 64 * 1024;
constexpr uint32_t kNeverDue = 0xFFFFFFFF;

std::wstring PipeName(int n) { return L"\\\\.\\pipe\\discord-ipc-" + std::to_wstring(n); }

}  // namespace

// Shared with the thread-pool wait and the token worker.
struct RpcTransport::WakeLink {
  std::mutex mutex;
  std::function<void()> wake;

  void Set(std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(mutex);
    wake = std::move(fn);
  }
  void Wake() {
    std::lock_guard<std::mutex> lock(mutex);
    if (wake) wake();
  }
};

RpcTransport::RpcTransport(std::function<void(const std::string&)> logLine)
    : log(std::move(logLine)),
      wakeLink(std::make_shared<WakeLink>()),
      readBuffer(kReadBufferBytes),
      readEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      syncEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  HANDLE wait = nullptr;
  if (readEvent && syncEvent &&
      RegisterWaitForSingleObject(&wait, readEvent.Get(), OnReadSignalled, wakeLink.get(), INFINITE,
                                  WT_EXECUTEDEFAULT)) {
    readWait.Reset(wait);
    return;
  }
  log("ERROR: Cannot set up pipe events (error " + std::to_string(GetLastError()) + ")");
}

RpcTransport::~RpcTransport() {
  Close();
  wakeLink->Set(nullptr);  // an abandoned token worker wakes no one
}

void CALLBACK RpcTransport::OnReadSignalled(void* link, BOOLEAN) { static_cast<WakeLink*>(link)->Wake(); }

void RpcTransport::WakeWith(std::function<void()> wake) { wakeLink->Set(std::move(wake)); }

std::function<void()> RpcTransport::Waker() const {
  return [link = wakeLink] { link->Wake(); };
}

bool RpcTransport::Open() {
  for (int n = 0; n < kPipeCount && !pipe; ++n)
    pipe = FileHandle(CreateFileW(PipeName(n).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr));
  if (!pipe) return false;
  DWORD mode = PIPE_READMODE_BYTE | PIPE_WAIT;
  SetNamedPipeHandleState(pipe.Get(), &mode, nullptr, nullptr);
  return true;
}

void RpcTransport::Close() {
  if (pipe && readPending) {
    CancelIoEx(pipe.Get(), &readOverlapped);
    DWORD ignored = 0;
    GetOverlappedResult(pipe.Get(), &readOverlapped, &ignored, TRUE);
  }
  pipe.Reset();
  readPending = false;
  inbox.clear();
}

bool RpcTransport::Send(uint32_t opcode, const std::string& payload, std::string* failure) {
  if (!pipe) return false;
  const std::string buffer = EncodeRpcFrame(opcode, payload);
  const DWORD size = static_cast<DWORD>(buffer.size());
  OVERLAPPED write = {};
  write.hEvent = syncEvent.Get();
  DWORD written = 0;
  bool done = WriteFile(pipe.Get(), buffer.data(), size, nullptr, &write) != FALSE;
  DWORD error = done ? 0 : GetLastError();
  if (error == ERROR_IO_PENDING) {
    const bool finished = WaitForSingleObject(syncEvent.Get(), kWriteWaitMs) == WAIT_OBJECT_0;
    if (!finished) CancelIoEx(pipe.Get(), &write);
    done = GetOverlappedResult(pipe.Get(), &write, &written, TRUE) != FALSE && written == size;
    error = done ? 0 : GetLastError();
    if (!done && !finished) {
      *failure = "ERROR: Write of " + std::to_string(size) + " bytes to Discord stalled for " +
                 std::to_string(kWriteWaitMs) + " ms, disconnecting";
      return false;
    }
  }
  if (!done) *failure = "ERROR: Write to Discord failed (error " + std::to_string(error) + "), disconnecting";
  return done;
}

bool RpcTransport::StartRead() {
  readOverlapped = {};
  readOverlapped.hEvent = readEvent.Get();
  if (!ReadFile(pipe.Get(), readBuffer.data(), kReadBufferBytes, nullptr, &readOverlapped) &&
      GetLastError() != ERROR_IO_PENDING)
    return false;
  readPending = true;
  return true;
}

// Moves the pending read's bytes to the inbox; wait after a cancel. False
// when the pipe broke.
bool RpcTransport::FinishRead(bool wait) {
  DWORD got = 0;
  readPending = false;
  if (!GetOverlappedResult(pipe.Get(), &readOverlapped, &got, wait ? TRUE : FALSE))
    return GetLastError() == ERROR_OPERATION_ABORTED;
  if (inbox.empty() && got > 0) inboxSince = GetTickCount();
  inbox.append(readBuffer.data(), got);
  return true;
}

bool RpcTransport::ReadArrived() const { return readPending && HasOverlappedIoCompleted(&readOverlapped); }

bool RpcTransport::ReceiveNow() {
  while (ReadArrived())
    if (!FinishRead(false) || !StartRead()) return false;
  return true;
}

// A length beyond the bound ends the stream: it cannot be followed past it.
bool RpcTransport::TakeFrame(RpcFrame& frame, std::string* failure) {
  for (;;) {
    const RpcFrameCut cut = CutRpcFrame(inbox, frame);
    if (cut == RpcFrameCut::TooLarge) {
      *failure = "ERROR: Frame payload too large (" + std::to_string(DecodeRpcFrameHeader(inbox.data()).length) +
                 " bytes), disconnecting";
      return false;
    }
    if (cut == RpcFrameCut::Incomplete) return false;
    inboxSince = GetTickCount();  // the rest began arriving by now at the latest
    if (frame.opcode <= kOpPong) return true;
    log("Unknown frame opcode " + std::to_string(frame.opcode) + " (" + std::to_string(frame.payload.size()) +
        " bytes), ignored");
  }
}

uint32_t RpcTransport::MsUntilFrameOverdue(uint32_t now) const {
  if (inbox.empty()) return kNeverDue;
  const uint32_t elapsed = now - inboxSince;
  return elapsed >= kFrameWaitMs ? 0 : kFrameWaitMs - elapsed;
}
