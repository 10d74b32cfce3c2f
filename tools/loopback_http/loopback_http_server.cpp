#include "tools/loopback_http/loopback_http_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

constexpr size_t kMaxHeaderBytes = 64 * 1024;
constexpr size_t kMaxBodyBytes = 8 * 1024 * 1024;
constexpr DWORD kReceiveTimeoutMs = 5000;

struct RouteEntry {
  std::string method;
  std::string path;
  bool prefix = false;
  LoopbackHttpHandler handler;
};

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

bool SendAll(SOCKET s, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    int n = send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// Content-Length from raw header lines (case-insensitive name); 0 when absent.
size_t ContentLength(const std::string& headers) {
  std::string lower;
  for (char c : headers) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  size_t at = lower.find("\ncontent-length:");
  if (at == std::string::npos) return 0;
  return static_cast<size_t>(std::strtoull(lower.c_str() + at + 16, nullptr, 10));
}

// Reads one request; false when the peer closes, stalls or sends garbage.
bool ReadRequest(SOCKET s, LoopbackHttpRequest& request) {
  std::string data;
  char buffer[4096];
  size_t headerEnd;
  while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
    if (data.size() > kMaxHeaderBytes) return false;
    int n = recv(s, buffer, sizeof(buffer), 0);
    if (n <= 0) return false;
    data.append(buffer, static_cast<size_t>(n));
  }
  std::string head = data.substr(0, headerEnd + 2);
  size_t lineEnd = head.find("\r\n");
  std::string line = head.substr(0, lineEnd);
  size_t sp1 = line.find(' ');
  size_t sp2 = line.find(' ', sp1 + 1);
  if (sp1 == std::string::npos || sp2 == std::string::npos) return false;
  request.method = line.substr(0, sp1);
  std::string target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  size_t q = target.find('?');
  request.path = target.substr(0, q);
  request.query = q == std::string::npos ? "" : target.substr(q + 1);
  request.headers = head.substr(lineEnd + 2);
  size_t length = ContentLength("\n" + request.headers);
  if (length > kMaxBodyBytes) return false;
  request.body = data.substr(headerEnd + 4);
  while (request.body.size() < length) {
    int n = recv(s, buffer, sizeof(buffer), 0);
    if (n <= 0) return false;
    request.body.append(buffer, static_cast<size_t>(n));
  }
  request.body.resize(length);
  return true;
}

std::string FormatResponse(const LoopbackHttpResponse& response) {
  return "HTTP/1.1 " + std::to_string(response.status) + " " + Reason(response.status) +
         "\r\nContent-Type: " + response.contentType + "\r\nContent-Length: " +
         std::to_string(response.body.size()) + "\r\nConnection: close\r\n\r\n" + response.body;
}

// Lets the client close first, so the TIME_WAIT state stays on its side and
// a restarted server can bind the same port at once.
void AwaitPeerClose(SOCKET s) {
  char buffer[512];
  while (recv(s, buffer, sizeof(buffer), 0) > 0) {
  }
}

void ResetConnection(SOCKET s) {
  linger abort = {1, 0};
  setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof(abort));
}

}  // namespace

struct LoopbackHttpServer::State {
  std::vector<RouteEntry> routes;
  SOCKET listener = INVALID_SOCKET;
  uint16_t port = 0;
  bool winsockStarted = false;
  std::atomic<bool> running{false};
  std::thread acceptThread;

  mutable std::mutex mutex;  // guards everything below
  std::condition_variable stopping;
  std::vector<std::thread> connectionThreads;
  std::vector<SOCKET> openSockets;
  std::vector<LoopbackHttpRequest> requests;

  const RouteEntry* FindRoute(const LoopbackHttpRequest& request) const {
    for (const RouteEntry& route : routes) {
      if (route.method != request.method) continue;
      if (route.prefix ? request.path.rfind(route.path, 0) == 0 : request.path == route.path) return &route;
    }
    return nullptr;
  }

  // False when Stop cut the wait short.
  bool Delay(uint32_t ms) {
    std::unique_lock<std::mutex> lock(mutex);
    return !stopping.wait_for(lock, std::chrono::milliseconds(ms), [&] { return !running.load(); });
  }

  void Serve(SOCKET s) {
    LoopbackHttpRequest request;
    if (ReadRequest(s, request)) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        requests.push_back(request);
      }
      const RouteEntry* route = FindRoute(request);
      LoopbackHttpResponse response;
      if (route) {
        response = route->handler(request);
      } else {
        response.status = 404;
        response.contentType = "text/plain";
        response.body = "not found";
      }
      bool stillRunning = response.delayMs == 0 || Delay(response.delayMs);
      if (response.resetConnection) ResetConnection(s);
      else if (stillRunning && SendAll(s, FormatResponse(response))) AwaitPeerClose(s);
    }
    std::lock_guard<std::mutex> lock(mutex);
    for (auto it = openSockets.begin(); it != openSockets.end(); ++it) {
      if (*it == s) {
        openSockets.erase(it);
        break;
      }
    }
    closesocket(s);
  }

  void AcceptLoop() {
    while (running) {
      SOCKET s = accept(listener, nullptr, nullptr);
      if (s == INVALID_SOCKET) continue;  // Stop closes the listener
      DWORD timeout = kReceiveTimeoutMs;
      setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
      std::lock_guard<std::mutex> lock(mutex);
      if (!running) {
        closesocket(s);
        break;
      }
      openSockets.push_back(s);
      connectionThreads.emplace_back([this, s] { Serve(s); });
    }
  }
};

LoopbackHttpServer::LoopbackHttpServer() : state_(std::make_unique<State>()) {}

LoopbackHttpServer::~LoopbackHttpServer() { Stop(); }

void LoopbackHttpServer::Route(const std::string& method, const std::string& path, LoopbackHttpHandler handler) {
  RouteEntry route;
  route.method = method;
  route.prefix = !path.empty() && path.back() == '*';
  route.path = route.prefix ? path.substr(0, path.size() - 1) : path;
  route.handler = std::move(handler);
  state_->routes.push_back(std::move(route));
}

bool LoopbackHttpServer::Start(uint16_t port) {
  State& st = *state_;
  if (st.running) return false;
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return false;
  st.winsockStarted = true;
  st.listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (st.listener == INVALID_SOCKET) {
    Stop();
    return false;
  }
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  int length = sizeof(address);
  if (bind(st.listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(st.listener, SOMAXCONN) != 0 ||
      getsockname(st.listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    Stop();
    return false;
  }
  st.port = ntohs(address.sin_port);
  st.running = true;
  st.acceptThread = std::thread([&st] { st.AcceptLoop(); });
  return true;
}

void LoopbackHttpServer::Stop() {
  State& st = *state_;
  {
    std::lock_guard<std::mutex> lock(st.mutex);
    st.running = false;
    // Wake every blocked recv so its thread can finish.
    for (SOCKET s : st.openSockets) shutdown(s, SD_BOTH);
  }
  st.stopping.notify_all();
  if (st.listener != INVALID_SOCKET) {
    closesocket(st.listener);
    st.listener = INVALID_SOCKET;
  }
  if (st.acceptThread.joinable()) st.acceptThread.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(st.mutex);
    threads.swap(st.connectionThreads);
  }
  for (std::thread& t : threads) t.join();
  if (st.winsockStarted) {
    WSACleanup();
    st.winsockStarted = false;
  }
}

uint16_t LoopbackHttpServer::Port() const { return state_->port; }

std::string LoopbackHttpServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(state_->port); }

int LoopbackHttpServer::RequestCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return static_cast<int>(state_->requests.size());
}

int LoopbackHttpServer::RequestCount(const std::string& method, const std::string& path) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  int count = 0;
  for (const LoopbackHttpRequest& r : state_->requests)
    if (r.method == method && r.path == path) ++count;
  return count;
}

std::vector<LoopbackHttpRequest> LoopbackHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->requests;
}
