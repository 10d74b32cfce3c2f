#include "app/http_client.h"

#include "app/win_handles.h"

#include <vector>

namespace {

// Bounded so a stalled peer cannot hold a download thread, or shutdown, long.
constexpr int kResolveTimeoutMs = 5000;
constexpr int kConnectTimeoutMs = 5000;
constexpr int kSendTimeoutMs = 10000;
constexpr int kReceiveTimeoutMs = 10000;

HttpResult Fail(HttpStage stage) {
  HttpResult result;
  result.stage = stage;
  result.error = GetLastError();
  return result;
}

}  // namespace

HttpResult HttpFetch(const HttpEndpoint& endpoint, const HttpRequestSpec& request) {
  InternetHandle session(
      WinHttpOpen(L"Voxmere/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return Fail(HttpStage::Open);
  WinHttpSetTimeouts(session.Get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, kReceiveTimeoutMs);
  InternetHandle connection(
      WinHttpConnect(session.Get(), endpoint.host.c_str(), static_cast<INTERNET_PORT>(endpoint.port), 0));
  if (!connection) return Fail(HttpStage::Connect);
  InternetHandle handle(WinHttpOpenRequest(connection.Get(), request.method, request.path.c_str(), nullptr,
                                          WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                          endpoint.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!handle) return Fail(HttpStage::OpenRequest);
  // Windows bounds the wait for the response headers by the receive time-out;
  // Wine waits for them without end unless this is set as well.
  DWORD responseTimeoutMs = kReceiveTimeoutMs;
  WinHttpSetOption(handle.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeoutMs, sizeof(responseTimeoutMs));
  const wchar_t* headers = request.headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : request.headers.c_str();
  DWORD headersLength = request.headers.empty() ? 0 : static_cast<DWORD>(-1);
  auto bodyLength = static_cast<DWORD>(request.body.size());
  void* body = request.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(request.body.data());
  if (!WinHttpSendRequest(handle.Get(), headers, headersLength, body, bodyLength, bodyLength, 0))
    return Fail(HttpStage::Send);
  if (!WinHttpReceiveResponse(handle.Get(), nullptr)) return Fail(HttpStage::Receive);

  HttpResult result;
  std::vector<char> buffer;
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(handle.Get(), &available) || available == 0) break;
    if (result.body.size() + available > request.maxBodyBytes) {
      result.stage = HttpStage::BodyTooLarge;
      result.body.clear();
      return result;
    }
    buffer.assign(available + 1, 0);
    DWORD read = 0;
    if (!WinHttpReadData(handle.Get(), buffer.data(), available, &read)) break;
    result.body.append(buffer.data(), read);
  }
  result.stage = HttpStage::Done;
  return result;
}
