#include "rpc/token_exchange.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>

namespace {

// Shutdown waits this long for a request in flight; HttpFetch's own time-outs
// bound the worker, not the user's exit.
constexpr uint32_t kShutdownWaitMs = 2000;

}  // namespace

struct TokenExchange::Job {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  TokenExchangeResult result;
};

TokenExchange::~TokenExchange() { ReleaseWorker(kShutdownWaitMs); }

void TokenExchange::ReleaseWorker(uint32_t waitMs) {
  if (!worker_.joinable()) return;
  bool done;
  {
    std::unique_lock<std::mutex> lock(job_->mutex);
    done = job_->finished.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return job_->done; });
  }
  if (done) worker_.join();
  else worker_.detach();
}

bool TokenExchange::Start(const HttpEndpoint& endpoint, const HttpRequestSpec& request, uint32_t tag,
                          std::function<void()> onFinished) {
  ReleaseWorker(0);
  auto job = std::make_shared<Job>();
  job->result.tag = tag;
  job_ = job;
  try {
    worker_ = std::thread([job, endpoint, request, onFinished] {
      HttpResult http = HttpFetch(endpoint, request);
      {
        std::lock_guard<std::mutex> lock(job->mutex);
        job->result.http = std::move(http);
        job->done = true;
        job->finished.notify_all();
      }
      if (onFinished) onFinished();
    });
  } catch (const std::system_error&) {
    job_.reset();
    return false;
  }
  return true;
}

std::optional<TokenExchangeResult> TokenExchange::TakeResult() {
  if (!job_) return std::nullopt;
  {
    std::lock_guard<std::mutex> lock(job_->mutex);
    if (!job_->done) return std::nullopt;
  }
  ReleaseWorker(0);  // joins: the worker is past its last touch of the job
  TokenExchangeResult result = std::move(job_->result);
  job_.reset();
  return result;
}
