#include "tests/reliability/peer_clients.h"

#include <psapi.h>
#include <winternl.h>

#include <vector>

#include "notify/notification_parse.h"
#include "notify/websocket_frame.h"
#include "tests/support/child_process.h"

std::string TaggedNotification(const std::string& sender, int sequence) {
  NotificationData data;
  data.displayName = WidenAscii(sender);
  data.content = WidenAscii(sender + "#" + std::to_string(sequence));
  return FormatNotification(data);
}

bool ParseTag(const std::wstring& content, std::string& sender, int& sequence) {
  const size_t hash = content.rfind(L'#');
  if (hash == std::wstring::npos || hash + 1 >= content.size()) return false;
  sender = NarrowAscii(content.substr(0, hash));
  sequence = std::stoi(content.substr(hash + 1));
  return true;
}

bool WebSocketPeer::Connect(uint16_t port) {
  Close();
  socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket_ == INVALID_SOCKET) return false;
  DWORD timeout = 3000;
  setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
}

bool WebSocketPeer::Upgrade(uint16_t port) {
  if (!Connect(port) ||
      !SendRaw("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"))
    return false;
  std::string answer;
  char chunk[512];
  while (answer.find("\r\n\r\n") == std::string::npos) {
    int n = recv(socket_, chunk, sizeof(chunk), 0);
    if (n <= 0) return false;
    answer.append(chunk, static_cast<size_t>(n));
  }
  return answer.rfind("HTTP/1.1 101 ", 0) == 0;
}

bool WebSocketPeer::SendText(const std::string& payload) {
  return SendRaw(EncodeWebSocketFrame(kWebSocketOpText, payload, 0x5A17C0DE));
}

bool WebSocketPeer::SendRaw(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    int n = send(socket_, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

void WebSocketPeer::Reset() {
  if (socket_ == INVALID_SOCKET) return;
  linger abort = {1, 0};
  setsockopt(socket_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof(abort));
  Close();
}

void WebSocketPeer::Close() {
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
  socket_ = INVALID_SOCKET;
}

bool PipePeer::Open(const std::wstring& pipeName, DWORD timeoutMs) {
  Close();
  WaitFor(
      [&] {
        pipe_ = CreateFileW(pipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        return pipe_ != INVALID_HANDLE_VALUE;
      },
      timeoutMs);
  if (pipe_ == INVALID_HANDLE_VALUE) return false;
  DWORD mode = PIPE_READMODE_MESSAGE;
  SetNamedPipeHandleState(pipe_, &mode, nullptr, nullptr);
  return true;
}

bool PipePeer::Send(const std::string& message) {
  DWORD written = 0;
  return WriteFile(pipe_, message.data(), static_cast<DWORD>(message.size()), &written, nullptr) &&
         written == message.size();
}

void PipePeer::Close() {
  if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
  pipe_ = INVALID_HANDLE_VALUE;
}

namespace {

// Wine answers GetProcessHandleCount with 0: count the values that name a
// handle instead. Wine hands them out densely from 4 upwards, so the first
// 4096 values see any leak long before it reaches them.
DWORD ProbeHandleCount(HANDLE process) {
  constexpr ULONG_PTR kHighestProbed = 0x4000;
  const bool own = GetProcessId(process) == GetCurrentProcessId();
  DWORD count = 0;
  for (ULONG_PTR value = 4; value < kHighestProbed; value += 4) {
    HANDLE handle = reinterpret_cast<HANDLE>(value);
    DWORD flags = 0;
    HANDLE copy = nullptr;
    if (own ? GetHandleInformation(handle, &flags) != 0
            : DuplicateHandle(process, handle, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS) != 0)
      ++count;
    if (copy) CloseHandle(copy);
  }
  return count;
}

// Wine's GetGuiResources is a stub, but Wine keeps each process's GDI handle
// table where Windows keeps the shared one: PEB.GdiSharedHandleTable. A used
// entry has a type; the count includes the stock objects, which stay put.
// 0 when the table cannot be read.
DWORD ProbeGdiObjectCount(HANDLE process) {
  struct GdiHandleEntry {
    UINT64 object;
    ULONG owner;
    USHORT unique;
    UCHAR type;
    UCHAR flags;
    UINT64 user;
  };
  constexpr size_t kEntries = 0x10000;
  constexpr size_t kPebGdiTableOffset = 0xF8;  // x64 layout
  PROCESS_BASIC_INFORMATION basic = {};
  ULONG length = 0;
  if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof(basic), &length) != 0) return 0;
  UINT64 table = 0;
  SIZE_T read = 0;
  if (!ReadProcessMemory(process, static_cast<char*>(static_cast<void*>(basic.PebBaseAddress)) + kPebGdiTableOffset,
                         &table, sizeof(table), &read) ||
      table == 0)
    return 0;
  std::vector<GdiHandleEntry> entries(kEntries);
  if (!ReadProcessMemory(process, reinterpret_cast<const void*>(table), entries.data(),
                         entries.size() * sizeof(GdiHandleEntry), &read))
    return 0;
  DWORD used = 0;
  for (const GdiHandleEntry& entry : entries) used += entry.type != 0 ? 1 : 0;
  return used;
}

// The windows a process owns, message-only ones included: the USER objects
// that a leak of this program would pile up.
DWORD CountProcessWindows(HANDLE process) {
  struct Search {
    DWORD processId;
    DWORD count = 0;
  } search{GetProcessId(process)};
  auto countWithChildren = [](HWND window, LPARAM context) -> BOOL {
    auto* s = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != s->processId) return TRUE;
    ++s->count;
    auto countChild = [](HWND, LPARAM c) -> BOOL {
      ++reinterpret_cast<Search*>(c)->count;
      return TRUE;
    };
    EnumChildWindows(window, countChild, context);
    return TRUE;
  };
  EnumWindows(countWithChildren, reinterpret_cast<LPARAM>(&search));
  for (HWND window = nullptr; (window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr));)
    countWithChildren(window, reinterpret_cast<LPARAM>(&search));
  return search.count;
}

}  // namespace

ProcessFigures MeasureProcess(HANDLE process) {
  ProcessFigures figures;
  if (!GetProcessHandleCount(process, &figures.handles) || figures.handles == 0) {
    figures.handles = ProbeHandleCount(process);
    figures.handlesProbed = true;
  }
  figures.gdiObjects = GetGuiResources(process, GR_GDIOBJECTS);
  figures.userObjects = GetGuiResources(process, GR_USEROBJECTS);
  if (figures.gdiObjects == 0 && figures.userObjects == 0) {
    figures.gdiObjects = ProbeGdiObjectCount(process);
    figures.userObjects = CountProcessWindows(process);
    figures.guiObjectsProbed = true;
  }
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof(memory);
  if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory)))
    // Wine leaves PrivateUsage at 0 but fills the commit charge, which is the
    // same figure on Windows.
    figures.privateBytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
  return figures;
}
