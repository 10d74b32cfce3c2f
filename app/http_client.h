// One WinHTTP request, start to end, for the token exchange and the avatar
// downloads. The caller decides what to log from the stage that failed.
#pragma once

#include <windows.h>

#include <string>

#include "app/http_endpoint.h"

enum class HttpStage { Open, Connect, OpenRequest, Send, Receive, BodyTooLarge, Done };

struct HttpResult {
  HttpStage stage = HttpStage::Open;  // Done when the body was read whole
  DWORD error = 0;                    // GetLastError of the failing call
  std::string body;
};

struct HttpRequestSpec {
  const wchar_t* method = L"GET";
  std::wstring path;
  std::wstring headers;  // CR LF separated; empty for none
  std::string body;
  size_t maxBodyBytes = 8 * 1024 * 1024;
};

HttpResult HttpFetch(const HttpEndpoint& endpoint, const HttpRequestSpec& request);
