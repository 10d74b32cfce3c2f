// The one way Voxmere listens on the loopback address: the plugin's
// WebSocket and the browser source's pages both open their sockets and wait
// for connections here.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <functional>

// Which call failed, and its Winsock error.
struct ListenFailure {
  enum Step { Socket, Bind, Listen } step = Socket;
  int error = 0;
};

// A listening socket on 127.0.0.1 only, exclusive (nobody else can bind the
// same port beside it and take its connections), non-blocking, on port (0:
// any free one); INVALID_SOCKET with *failure filled otherwise.
SOCKET OpenLoopbackListener(uint16_t port, int backlog, ListenFailure* failure);
uint16_t ListenerPort(SOCKET listener);

// Whether the error means the port is held by another socket.
inline bool PortHeld(int error) { return error == WSAEADDRINUSE || error == WSAEACCES; }

// Hands each pending connection to accept (non-blocking, its event selection
// cleared) until stop is set or running turns false; asleep in
// between. every, when set, is called about every everyMs meanwhile. Without
// the socket event it looks for connections every 100 ms instead. The
// listener is closed before it returns.
void AcceptUntilStopped(SOCKET listener, HANDLE stop, const std::atomic<bool>& running,
                        const std::function<void(SOCKET)>& accept, uint32_t everyMs = 0,
                        const std::function<void()>& every = nullptr);
