// The WebSocket endpoint on the loopback address: a listener thread and one
// detached thread per client, which receives notifications after the upgrade
// and answers only Ping and Close.
#include "notify/notification_server.h"

#include <wincrypt.h>

#include <algorithm>
#include <system_error>
#include <vector>

#include "notify/websocket_frame.h"
#include "notify/websocket_handshake.h"

namespace {

constexpr DWORD kAcceptPollMs = 100;
constexpr DWORD kListenRetryMs = 2000;
constexpr DWORD kListeningRetellMs = 5000;
constexpr DWORD kHandshakeWaitMs = 2000;
constexpr size_t kHandshakeMaxBytes = 4095;
constexpr int kReceiveBufferSize = 8192;

// Readable within timeoutMs; false on time-out and on error.
bool WaitReadable(SOCKET s, DWORD timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval wait = {static_cast<long>(timeoutMs / 1000), static_cast<long>((timeoutMs % 1000) * 1000)};
  return select(0, &set, nullptr, nullptr, &wait) == 1;
}

void SendText(SOCKET s, const std::string& text) {
  send(s, text.data(), static_cast<int>(text.size()), 0);
}

// Base64 of SHA-1(key + magic); empty when the hash service fails.
std::string ComputeWebSocketAccept(const std::string& key) {
  const std::string text = key + kWebSocketMagic;
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return {};
  std::string accept;
  HCRYPTHASH hash = 0;
  if (CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash)) {
    BYTE digest[20];
    DWORD length = sizeof(digest);
    if (CryptHashData(hash, reinterpret_cast<const BYTE*>(text.data()), static_cast<DWORD>(text.size()), 0) &&
        CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0) && length == sizeof(digest))
      accept = Base64Encode(digest, sizeof(digest));
    CryptDestroyHash(hash);
  }
  CryptReleaseContext(provider, 0);
  return accept;
}

}  // namespace

SOCKET NotificationServer::OpenWebSocketListener(uint16_t port, bool logFailure, int* error) {
  auto fail = [this, logFailure, error](const char* what, SOCKET s) {
    *error = WSAGetLastError();
    if (logFailure) Log(what + std::to_string(*error));
    if (s != INVALID_SOCKET) closesocket(s);
    return INVALID_SOCKET;
  };
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return fail("Failed to create WebSocket: ", s);
  // Exclusive: with SO_REUSEADDR Windows would let this socket share a port
  // another program listens on, and neither would know which one is reached.
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof(exclusive));
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == SOCKET_ERROR)
    return fail("WebSocket bind failed: ", s);
  if (listen(s, 5) == SOCKET_ERROR) return fail("WebSocket listen failed: ", s);
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  int length = sizeof(address);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  boundPort = ntohs(address.sin_port);
  return s;
}

SOCKET NotificationServer::OpenWebSocketListenerOrAnother(bool logFailure) {
  int error = 0;
  SOCKET s = OpenWebSocketListener(webSocketPort, logFailure, &error);
  if (s != INVALID_SOCKET || webSocketPort == 0 || (error != WSAEADDRINUSE && error != WSAEACCES)) return s;
  // Held by another program (or a Voxmere still closing): any free loopback
  // port serves, since the endpoint file names it.
  s = OpenWebSocketListener(0, logFailure, &error);
  if (s != INVALID_SOCKET)
    Log("WebSocket port " + std::to_string(webSocketPort) + " is held by another program; listening on port " +
        std::to_string(boundPort.load()) + " instead");
  return s;
}

void NotificationServer::WebSocketServerLoop() {
  // A failure beyond a held port may pass: retry quietly after the first
  // failure's lines.
  SOCKET s = INVALID_SOCKET;
  for (bool first = true; running && s == INVALID_SOCKET; first = false) {
    s = OpenWebSocketListenerOrAnother(first);
    if (s == INVALID_SOCKET) {
      if (first) Log("WebSocket endpoint retries every " + std::to_string(kListenRetryMs / 1000) + " s");
      WaitForSingleObject(stopEvent.Get(), kListenRetryMs);
    }
  }
  if (s == INVALID_SOCKET) return;
  Log("WebSocket server listening on port " + std::to_string(boundPort.load()));
  if (listeningCallback) listeningCallback(boundPort.load());

  // Asleep until a connection is pending or Stop; without the socket event
  // it looks for connections every 100 ms instead.
  SocketEvent pending(WSACreateEvent());
  const bool evented = pending && WSAEventSelect(s, pending.Get(), FD_ACCEPT) == 0;
  if (!evented) Log("WebSocket accept event unavailable (" + std::to_string(WSAGetLastError()) + "), polling instead");
  HANDLE waits[2] = {stopEvent.Get(), pending.Get()};
  DWORD lastTold = GetTickCount();
  while (running) {
    const DWORD wait = evented ? (listeningCallback ? kListeningRetellMs : INFINITE) : kAcceptPollMs;
    DWORD woke = WaitForMultipleObjects(evented ? 2 : 1, waits, FALSE, wait);
    if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) break;
    if (listeningCallback && GetTickCount() - lastTold >= kListeningRetellMs) {
      lastTold = GetTickCount();
      listeningCallback(boundPort.load());
    }
    if (evented) WSAResetEvent(pending.Get());  // each accept, even a failed one, re-arms it
    for (SOCKET client; (client = accept(s, nullptr, nullptr)) != INVALID_SOCKET;) AcceptWebSocketClient(client);
  }
  boundPort = 0;
  closesocket(s);
  if (listeningCallback) listeningCallback(0);
}

void NotificationServer::AcceptWebSocketClient(SOCKET client) {
  // It inherits the listener's event selection, which would refuse the
  // switch to blocking receives; it stays non-blocking for the handshake.
  WSAEventSelect(client, nullptr, 0);
  std::lock_guard<std::mutex> lock(clientsMutex);
  if (clientSockets.size() >= kMaxWebSocketClients) {
    Log("WebSocket client refused: " + std::to_string(kMaxWebSocketClients) + " clients already connected");
    closesocket(client);
    return;
  }
  Log("WebSocket client connecting...");
  clientSockets.insert(client);
  try {
    std::thread(&NotificationServer::HandleWebSocketClient, this, client).detach();
  } catch (const std::system_error&) {
    Log("Failed to start a WebSocket client thread");
    clientSockets.erase(client);
    closesocket(client);
  }
}

void NotificationServer::ReleaseWebSocketClient(SOCKET client) {
  // Closed under the lock so that Stop never shuts down a reused socket
  // number; the last touch of the server by this thread.
  std::lock_guard<std::mutex> lock(clientsMutex);
  clientSockets.erase(client);
  closesocket(client);
  clientsDone.notify_all();
}

void NotificationServer::HandleWebSocketClient(SOCKET client) {
  if (!PerformWebSocketHandshake(client)) {
    Log("WebSocket handshake failed");
    ReleaseWebSocketClient(client);
    return;
  }
  Log("WebSocket client connected and handshake complete");
  const uint64_t connection = NextConnection();
  bool carriesFeed = false;
  // No receive time-out (Windows leaves a socket whose receive timed out in
  // an indeterminate state): the thread sleeps on the socket and the stop event.
  {
    SocketEvent readable(WSACreateEvent());
    if (readable && WSAEventSelect(client, readable.Get(), FD_READ | FD_CLOSE) == 0)
      ReceiveWebSocketFrames(client, connection, readable.Get(), &carriesFeed);
    else
      Log("WebSocket client event unavailable: " + std::to_string(WSAGetLastError()));
  }
  EndFeedConnection(connection, carriesFeed);
  ReleaseWebSocketClient(client);
}

void NotificationServer::ReceiveWebSocketFrames(SOCKET client, uint64_t connection, WSAEVENT readable,
                                                bool* carriesFeed) {
  // A receive may hold several frames, or end inside one: whole frames are
  // taken from the front and the rest waits for the next receive, so frames
  // sent back to back are not lost.
  std::vector<uint8_t> buffer(kReceiveBufferSize);
  size_t held = 0;
  const HANDLE waits[2] = {stopEvent.Get(), readable};
  while (running) {
    // Reset before the receive: data that arrives after it sets the event again.
    WSAResetEvent(readable);
    int received =
        recv(client, reinterpret_cast<char*>(buffer.data() + held), static_cast<int>(buffer.size() - held), 0);
    if (received == 0) {
      Log("WebSocket client disconnected");
      return;
    }
    if (received < 0) {
      int error = WSAGetLastError();
      if (error != WSAEWOULDBLOCK) {
        Log("WebSocket recv error: " + std::to_string(error));
        return;
      }
      if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return;
      continue;
    }
    held += static_cast<size_t>(received);
    size_t used = 0;
    uint64_t frameSize = 0;
    while ((frameSize = WebSocketFrameSize(buffer.data() + used, held - used)) != 0 && frameSize <= held - used) {
      if (!HandleWebSocketFrame(client, connection,
                                DecodeWebSocketFrame(buffer.data() + used, static_cast<size_t>(frameSize)), carriesFeed))
        return;
      used += static_cast<size_t>(frameSize);
    }
    if (frameSize > buffer.size()) {
      // It could never be held whole, and skipping it would leave the stream
      // to guesswork.
      Log("WebSocket frame of " + std::to_string(frameSize) + " bytes exceeds " + std::to_string(buffer.size()) +
          ", connection closed");
      return;
    }
    std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(used), buffer.begin() + static_cast<std::ptrdiff_t>(held),
              buffer.begin());
    held -= used;
  }
}

bool NotificationServer::HandleWebSocketFrame(SOCKET client, uint64_t connection, const WebSocketFrame& frame,
                                              bool* carriesFeed) {
  switch (frame.opcode) {
    case kWebSocketOpText:
    case kWebSocketOpBinary:
      if (!frame.payload.empty()) {
        Log("WebSocket received " + std::to_string(frame.payload.size()) + " bytes");
        if (!TakeMessage(connection, frame.payload, carriesFeed, [](const NotificationData&, size_t pending) {
              return "Queued notification, pending count: " + std::to_string(pending);
            }))
          Log("Failed to parse notification - displayName empty");
      }
      return true;
    case kWebSocketOpPing:
      SendText(client, EncodeServerWebSocketFrame(kWebSocketOpPong, frame.payload));
      return true;
    case kWebSocketOpClose:
      // The answer echoes the client's status code; then the server closes first.
      SendText(client, EncodeServerWebSocketFrame(kWebSocketOpClose, frame.payload.substr(0, 2)));
      shutdown(client, SD_SEND);
      Log("WebSocket client closed the connection");
      return false;
    default:
      return true;  // pongs and fragments carry nothing for us
  }
}

bool NotificationServer::PerformWebSocketHandshake(SOCKET client) {
  // The accepted socket is still non-blocking: wait, bounded, for the whole
  // header block rather than taking whatever the first receive finds.
  std::string request;
  char chunk[kHandshakeMaxBytes];
  const DWORD start = GetTickCount();
  while (running && request.size() < kHandshakeMaxBytes && !IsHttpRequestComplete(request)) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= kHandshakeWaitMs) break;
    if (!WaitReadable(client, std::min(kAcceptPollMs, kHandshakeWaitMs - elapsed))) continue;
    int received = recv(client, chunk, static_cast<int>(kHandshakeMaxBytes - request.size()), 0);
    if (received <= 0) {
      if (received < 0 && WSAGetLastError() == WSAEWOULDBLOCK) continue;
      return false;
    }
    request.append(chunk, static_cast<size_t>(received));
  }
  request = request.c_str();  // up to the first zero byte

  std::string refusedOrigin;
  if (!IsAllowedWebSocketOrigin(request, refusedOrigin)) {
    Log("WebSocket origin refused: " + refusedOrigin);
    SendText(client, kWebSocketForbiddenResponse);
    return false;
  }
  std::string key;
  if (!ExtractWebSocketKey(request, key)) return false;
  const std::string accept = ComputeWebSocketAccept(key);
  if (accept.empty()) {
    Log("WebSocket SHA-1 failed: " + std::to_string(GetLastError()));
    SendText(client, kWebSocketServerErrorResponse);
    return false;
  }
  SendText(client, BuildWebSocketAcceptResponse(accept));
  return true;
}
