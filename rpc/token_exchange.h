// Runs the code-for-token HTTP request on a worker thread, so the UI thread
// keeps drawing while the network answers; the result is picked up by
// polling, and onFinished (on the worker) says when to poll. The worker shares only its job record with this object, so an
// abandoned worker (a newer exchange, or shutdown while the request still
// runs) finishes harmlessly on its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "app/http_client.h"

struct TokenExchangeResult {
  HttpResult http;
  uint32_t tag = 0;  // what Start was given: which connection asked
};

class TokenExchange {
 public:
  TokenExchange() = default;
  ~TokenExchange();
  TokenExchange(const TokenExchange&) = delete;
  TokenExchange& operator=(const TokenExchange&) = delete;

  // Starts a request, abandoning any that is still running. False when no
  // thread could be started. onFinished runs on the worker once the result
  // is ready, also for an abandoned request.
  bool Start(const HttpEndpoint& endpoint, const HttpRequestSpec& request, uint32_t tag,
             std::function<void()> onFinished);
  // The finished request's result, handed out once.
  std::optional<TokenExchangeResult> TakeResult();

 private:
  struct Job;
  void ReleaseWorker(uint32_t waitMs);

  std::shared_ptr<Job> job_;
  std::thread worker_;
};
