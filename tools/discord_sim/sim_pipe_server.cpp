#include "tools/discord_sim/sim_pipe_server.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr DWORD kPipeBufferBytes = 64 * 1024;
// What the client may write before we read it; a hung Discord's buffer
// fills, and the client's writes stop completing.
constexpr DWORD kInboundQuotaBytes = 1024;
// How long a restarting Discord client has no pipe.
constexpr DWORD kRestartDowntimeMs = 2000;
// After a Close frame the client gets this long to read it and go; closing
// our end sooner would discard the frame unread.
constexpr DWORD kCloseGraceMs = 2000;

std::string Describe(const char* direction, const RpcFrame& frame) {
  return std::string(direction) + " op=" + std::to_string(frame.opcode) + " " + frame.payload;
}

void CloseIfSet(HANDLE& h) {
  if (h) CloseHandle(h);
  h = nullptr;
}

}  // namespace

SimPipeServer::SimPipeServer(SimScenario scenario, SimAuthRegistry& auth) : sim_(std::move(scenario), auth) {}

SimPipeServer::~SimPipeServer() { Stop(); }

HANDLE SimPipeServer::CreateInstance() {
  return CreateNamedPipeW(pipeName_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                          PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, kPipeBufferBytes, kInboundQuotaBytes, 0,
                          nullptr);
}

bool SimPipeServer::Start(int pipeIndex) {
  pipeName_ = L"\\\\.\\pipe\\discord-ipc-" + std::to_wstring(pipeIndex);
  pipe_ = CreateInstance();
  if (pipe_ == INVALID_HANDLE_VALUE) return false;
  stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  actionEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ioEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  writeEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!stopEvent_ || !actionEvent_ || !ioEvent_ || !writeEvent_) {
    Stop();
    return false;
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void SimPipeServer::Stop() {
  if (stopEvent_) SetEvent(stopEvent_);
  if (thread_.joinable()) thread_.join();
  if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
  pipe_ = INVALID_HANDLE_VALUE;
  CloseIfSet(writeEvent_);
  CloseIfSet(ioEvent_);
  CloseIfSet(actionEvent_);
  CloseIfSet(stopEvent_);
}

void SimPipeServer::Run() {
  for (;;) {
    OVERLAPPED connect = {};
    connect.hEvent = ioEvent_;
    ResetEvent(ioEvent_);
    bool connected = ConnectNamedPipe(pipe_, &connect) != FALSE || GetLastError() == ERROR_PIPE_CONNECTED;
    if (!connected && GetLastError() == ERROR_IO_PENDING) {
      HANDLE waits[] = {ioEvent_, stopEvent_};
      if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        CancelIoEx(pipe_, &connect);
        DWORD ignored;
        GetOverlappedResult(pipe_, &connect, &ignored, TRUE);
        return;
      }
      DWORD ignored;
      connected = GetOverlappedResult(pipe_, &connect, &ignored, FALSE) != FALSE;
    }
    if (!connected) DisconnectNamedPipe(pipe_);  // a client that came and went
    if (WaitForSingleObject(stopEvent_, connected ? 0 : 50) == WAIT_OBJECT_0) return;
    if (!connected) continue;
    Serve();
    DisconnectNamedPipe(pipe_);
    if (restartRequested_ && !Restart()) return;
    if (WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0) return;
  }
}

// The pipe's name is gone while the client is down, as when Discord
// restarts; false when stopped meanwhile or the name cannot be taken back.
bool SimPipeServer::Restart() {
  restartRequested_ = false;
  CloseHandle(pipe_);
  pipe_ = INVALID_HANDLE_VALUE;
  sim_.OnRestart();
  AddLine("RESTARTING");
  if (WaitForSingleObject(stopEvent_, kRestartDowntimeMs) == WAIT_OBJECT_0) return false;
  pipe_ = CreateInstance();
  if (pipe_ == INVALID_HANDLE_VALUE) {
    AddLine("ERROR cannot create the pipe again");
    return false;
  }
  AddLine("RESTARTED");
  return true;
}

void SimPipeServer::Serve() {
  sim_.OnConnect();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    actions_.clear();
    clientConnected_ = true;
  }
  AddLine("CONNECTED");
  std::string inbox;
  std::vector<char> buffer(kPipeBufferBytes);
  OVERLAPPED read = {};
  read.hEvent = ioEvent_;
  bool readPending = false;
  bool closeRequested = false;
  bool timelineRunning = false;
  ULONGLONG lastStep = 0;
  stallEnd_ = 0;
  cutOff_ = false;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    const bool stalled = now < stallEnd_;
    if (stalled && readPending) {
      StopReading(read, buffer.data(), inbox, &closeRequested);
      readPending = false;
    }
    if (!readPending && !stalled) {
      ResetEvent(ioEvent_);
      if (!ReadFile(pipe_, buffer.data(), kPipeBufferBytes, nullptr, &read) && GetLastError() != ERROR_IO_PENDING)
        break;
      readPending = true;
    }
    ULONGLONG stepDue = ~0ull;
    if (sim_.TimelineActive()) {
      if (!timelineRunning) lastStep = now;
      timelineRunning = true;
      stepDue = lastStep + sim_.NextStepDelayMs();
    } else {
      timelineRunning = false;
    }
    const ULONGLONG readyDue = sim_.QueuedReadyAt(now).value_or(~0ull);
    const ULONGLONG wakeAt = std::min({stepDue, stalled ? stallEnd_ : ~0ull, readyDue});
    const DWORD timeout = wakeAt == ~0ull ? INFINITE : static_cast<DWORD>(wakeAt > now ? wakeAt - now : 0);
    HANDLE waits[] = {ioEvent_, stopEvent_, actionEvent_};
    DWORD woke = WaitForMultipleObjects(3, waits, FALSE, timeout);
    if (woke == WAIT_OBJECT_0) {
      readPending = false;
      DWORD got = 0;
      if (!GetOverlappedResult(pipe_, &read, &got, FALSE)) break;  // the client went away
      inbox.append(buffer.data(), got);
      if (!DrainInbox(inbox, &closeRequested)) break;
    } else if (woke == WAIT_OBJECT_0 + 1) {
      break;
    } else if (woke == WAIT_OBJECT_0 + 2) {
      std::deque<SimStep> pending;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        pending.swap(actions_);
      }
      bool keep = true;
      for (const SimStep& step : pending) keep = keep && Deliver(sim_.RunStep(step), &closeRequested);
      if (!keep) break;
    } else if (woke == WAIT_TIMEOUT) {
      const ULONGLONG at = GetTickCount64();
      if (at >= readyDue) {
        if (!Deliver(sim_.ReleaseQueuedReady(at), &closeRequested)) break;
        continue;
      }
      if (at < stepDue) continue;  // a stall ended
      SimReply reply = sim_.RunNextStep();
      lastStep = GetTickCount64();
      if (!Deliver(reply, &closeRequested)) break;
    } else {
      break;
    }
    if (closeRequested) {
      if (readPending) AwaitClientGone(read, buffer.data(), kPipeBufferBytes);
      readPending = false;
      break;
    }
  }
  if (readPending) {
    CancelIoEx(pipe_, &read);
    DWORD ignored;
    GetOverlappedResult(pipe_, &read, &ignored, TRUE);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    clientConnected_ = false;
  }
  AddLine("DISCONNECTED");
}

// Takes in what the cancelled read got and reads no more until the stall
// ends.
void SimPipeServer::StopReading(OVERLAPPED& read, const char* buffer, std::string& inbox, bool* closeRequested) {
  CancelIoEx(pipe_, &read);
  DWORD got = 0;
  if (GetOverlappedResult(pipe_, &read, &got, TRUE)) inbox.append(buffer, got);
  ResetEvent(ioEvent_);
  AddLine("STALLED");
  DrainInbox(inbox, closeRequested);
}

// Reads and discards until the client closes its end, the grace time ends
// or the server stops.
void SimPipeServer::AwaitClientGone(OVERLAPPED& read, char* buffer, DWORD size) {
  ULONGLONG deadline = GetTickCount64() + kCloseGraceMs;
  for (;;) {
    ULONGLONG now = GetTickCount64();
    HANDLE waits[] = {ioEvent_, stopEvent_};
    if (now >= deadline ||
        WaitForMultipleObjects(2, waits, FALSE, static_cast<DWORD>(deadline - now)) != WAIT_OBJECT_0)
      break;
    DWORD got = 0;
    if (!GetOverlappedResult(pipe_, &read, &got, FALSE)) return;
    ResetEvent(ioEvent_);
    if (!ReadFile(pipe_, buffer, size, nullptr, &read) && GetLastError() != ERROR_IO_PENDING) return;
  }
  CancelIoEx(pipe_, &read);
  DWORD ignored;
  GetOverlappedResult(pipe_, &read, &ignored, TRUE);
}

bool SimPipeServer::DrainInbox(std::string& inbox, bool* closeRequested) {
  for (;;) {
    RpcFrame frame;
    RpcFrameCut cut = CutRpcFrame(inbox, frame);
    if (cut == RpcFrameCut::TooLarge) {
      AddLine("ERROR frame length too large, dropping the client");
      return false;
    }
    if (cut == RpcFrameCut::Incomplete) break;
    AddLine(Describe("RECV", frame));
    SimReply reply = sim_.HandleFrame(frame, GetTickCount64());
    if (!SendReply(reply)) return false;
    if (reply.close) {
      *closeRequested = true;
      return true;
    }
  }
  return true;
}

bool SimPipeServer::SendReply(const SimReply& reply) {
  // A Discord that died in the middle of a frame writes nothing after it.
  for (const std::string& note : reply.notes) AddLine(note);
  if (cutOff_) return true;
  for (const RpcFrame& frame : reply.frames) {
    AddLine(Describe("SEND", frame));
    if (!WriteBytes(EncodeRpcFrame(frame.opcode, frame.payload))) return false;
  }
  if (reply.bytes.empty()) return true;
  AddLine("SEND raw " + std::to_string(reply.bytes.size()) + " bytes");
  cutOff_ = reply.cut;
  return WriteBytes(reply.bytes);
}

// A step's reply; false when the connection ends now (a drop, or the client
// is gone). A close waits for the client to read it.
bool SimPipeServer::Deliver(const SimReply& reply, bool* closeRequested) {
  *closeRequested = *closeRequested || reply.close;
  restartRequested_ = restartRequested_ || reply.restart;
  if (reply.stallMs) stallEnd_ = GetTickCount64() + reply.stallMs;
  return SendReply(reply) && !reply.drop && !reply.restart;
}

bool SimPipeServer::WriteBytes(const std::string& bytes) {
  OVERLAPPED write = {};
  write.hEvent = writeEvent_;
  ResetEvent(writeEvent_);
  if (!WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &write) &&
      GetLastError() != ERROR_IO_PENDING)
    return false;
  HANDLE waits[] = {writeEvent_, stopEvent_};
  DWORD written = 0;
  if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
    CancelIoEx(pipe_, &write);
    GetOverlappedResult(pipe_, &write, &written, TRUE);
    return false;
  }
  return GetOverlappedResult(pipe_, &write, &written, FALSE) != FALSE;
}

void SimPipeServer::Queue(SimStep step) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!clientConnected_) return;
    actions_.push_back(std::move(step));
  }
  SetEvent(actionEvent_);
}

bool SimPipeServer::Inject(const std::string& stepLine) {
  std::string error;
  auto step = ParseScenarioStep(stepLine, &error);
  if (!step) {
    AddLine("ERROR " + error);
    return false;
  }
  Queue(*step);
  return true;
}

void SimPipeServer::SendRaw(const std::string& bytes) {
  SimStep step;
  step.kind = SimStepKind::Bytes;
  step.target = bytes;
  Queue(step);
}

void SimPipeServer::DropClient() {
  SimStep step;
  step.kind = SimStepKind::Drop;
  Queue(step);
}

void SimPipeServer::AddLine(const std::string& line) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  }
  lineAdded_.notify_all();
  if (onLine) onLine(line);
}

std::vector<std::string> SimPipeServer::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

size_t SimPipeServer::CountLines(const std::string& fragment) const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t count = 0;
  for (const std::string& line : lines_)
    if (line.find(fragment) != std::string::npos) ++count;
  return count;
}

bool SimPipeServer::WaitForLines(const std::string& fragment, size_t count, uint32_t timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return lineAdded_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    size_t found = 0;
    for (const std::string& line : lines_)
      if (line.find(fragment) != std::string::npos) ++found;
    return found >= count;
  });
}
