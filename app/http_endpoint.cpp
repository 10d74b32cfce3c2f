#include "app/http_endpoint.h"

#include <cstdlib>

namespace {

// Plain HTTP carries the client secret and the code as they are, so it may
// only name this machine.
bool IsLoopbackHost(const std::string& host) {
  if (host == "localhost" || host == "[::1]") return true;
  if (host.rfind("127.", 0) != 0) return false;
  int parts = 0, digits = 0, value = 0;
  for (size_t i = 0; i <= host.size(); ++i) {
    if (i == host.size() || host[i] == '.') {
      if (digits == 0 || value > 255) return false;
      ++parts;
      digits = value = 0;
    } else if (host[i] >= '0' && host[i] <= '9' && digits < 3) {
      value = value * 10 + (host[i] - '0');
      ++digits;
    } else {
      return false;
    }
  }
  return parts == 4;
}

}  // namespace

std::optional<HttpEndpoint> ParseHttpBase(const std::string& base) {
  HttpEndpoint endpoint;
  std::string rest;
  if (base.rfind("https://", 0) == 0) {
    rest = base.substr(8);
  } else if (base.rfind("http://", 0) == 0) {
    endpoint.secure = false;
    endpoint.port = 80;
    rest = base.substr(7);
  } else {
    return std::nullopt;
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  // A bracketed IPv6 literal holds colons of its own.
  size_t colon = rest.find(':', !rest.empty() && rest[0] == '[' ? rest.find(']') : 0);
  std::string host = rest.substr(0, colon);
  if (host.empty() || host.find_first_of("/?#@ ") != std::string::npos) return std::nullopt;
  if (!endpoint.secure && !IsLoopbackHost(host)) return std::nullopt;
  if (colon != std::string::npos) {
    std::string port = rest.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
      return std::nullopt;
    endpoint.port = std::atoi(port.c_str());
    if (endpoint.port < 1 || endpoint.port > 65535) return std::nullopt;
  }
  endpoint.host.assign(host.begin(), host.end());
  return endpoint;
}

HttpEndpoint ResolveHttpEndpoint(const char* envName, const wchar_t* defaultHost) {
  if (const char* value = std::getenv(envName)) {
    if (auto parsed = ParseHttpBase(value)) return *parsed;
  }
  HttpEndpoint endpoint;
  endpoint.host = defaultHost;
  return endpoint;
}
