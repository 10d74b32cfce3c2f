#include "notify/loopback_listener.h"

#include <windows.h>

#include <string>

#include "app/log.h"
#include "app/win_handles.h"

namespace {

constexpr DWORD kAcceptPollMs = 100;

}  // namespace

SOCKET OpenLoopbackListener(uint16_t port, int backlog, ListenFailure* failure) {
  auto fail = [failure](ListenFailure::Step step, SOCKET s) {
    *failure = {step, WSAGetLastError()};
    if (s != INVALID_SOCKET) closesocket(s);
    return INVALID_SOCKET;
  };
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return fail(ListenFailure::Socket, s);
  // With SO_REUSEADDR Windows would let this socket share a port another
  // program listens on, and neither would know which one is reached.
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof(exclusive));
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == SOCKET_ERROR)
    return fail(ListenFailure::Bind, s);
  if (listen(s, backlog) == SOCKET_ERROR) return fail(ListenFailure::Listen, s);
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  return s;
}

uint16_t ListenerPort(SOCKET listener) {
  sockaddr_in address = {};
  int length = sizeof(address);
  if (getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

void AcceptUntilStopped(SOCKET listener, HANDLE stop, const std::atomic<bool>& running,
                        const std::function<void(SOCKET)>& accept, uint32_t everyMs,
                        const std::function<void()>& every) {
  SocketEvent pending(WSACreateEvent());
  const bool evented = pending && WSAEventSelect(listener, pending.Get(), FD_ACCEPT) == 0;
  if (!evented)
    WriteLogLine(L"[Loopback] Accept event unavailable (" + std::to_wstring(WSAGetLastError()) + L"), polling instead");
  const HANDLE waits[2] = {stop, pending.Get()};
  DWORD lastCalled = GetTickCount();
  while (running) {
    const DWORD wait = evented ? (every ? everyMs : INFINITE) : kAcceptPollMs;
    const DWORD woke = WaitForMultipleObjects(evented ? 2 : 1, waits, FALSE, wait);
    if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) break;
    if (every && GetTickCount() - lastCalled >= everyMs) {
      lastCalled = GetTickCount();
      every();
    }
    if (evented) WSAResetEvent(pending.Get());  // each accept, even a failed one, re-arms it
    for (SOCKET client; (client = ::accept(listener, nullptr, nullptr)) != INVALID_SOCKET;) {
      // It inherits the listener's event selection, which would refuse a
      // switch to blocking receives.
      WSAEventSelect(client, nullptr, 0);
      accept(client);
    }
  }
  closesocket(listener);
}
