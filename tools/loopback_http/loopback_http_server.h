// A small HTTP/1.1 server on 127.0.0.1 for tests and demos: stands in for the
// Discord API (token endpoint) and CDN (avatars). Each connection is served
// on its own thread; one request per connection ("Connection: close").
//
//   LoopbackHttpServer server;
//   server.Route("GET", "/avatars/*", [](const LoopbackHttpRequest& r) { ... });
//   server.Start();                 // ephemeral port; server.BaseUrl() -> "http://127.0.0.1:N"
//   ... server.RequestCount("GET", "/avatars/1/abc.png") ...
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct LoopbackHttpRequest {
  std::string method;
  std::string path;   // without the query
  std::string query;  // after '?', empty when none
  std::string headers;  // raw header lines, CR LF separated
  std::string body;
};

struct LoopbackHttpResponse {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  uint32_t delayMs = 0;        // wait before answering (cut short by Stop)
  bool resetConnection = false;  // abort with a TCP reset instead of answering
};

using LoopbackHttpHandler = std::function<LoopbackHttpResponse(const LoopbackHttpRequest&)>;

class LoopbackHttpServer {
 public:
  LoopbackHttpServer();
  ~LoopbackHttpServer();  // stops
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  // A path ending in '*' matches every path with that prefix. Unrouted
  // requests get 404. Handlers run on connection threads, possibly several
  // at once. Add routes before Start.
  void Route(const std::string& method, const std::string& path, LoopbackHttpHandler handler);
  // Port 0 picks a free port. False when the socket cannot be bound.
  bool Start(uint16_t port = 0);
  // Closes the listener and every open connection, joins all threads.
  void Stop();

  uint16_t Port() const;
  std::string BaseUrl() const;
  // Requests read whole, routed or not; optionally only those with this
  // method and path.
  int RequestCount() const;
  int RequestCount(const std::string& method, const std::string& path) const;
  std::vector<LoopbackHttpRequest> Requests() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};
