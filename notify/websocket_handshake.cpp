#include "notify/websocket_handshake.h"

#include <cctype>

const char kWebSocketMagic[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
const char kWebSocketForbiddenResponse[] =
    "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
const char kWebSocketServerErrorResponse[] =
    "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

namespace {

const char kKeyHeader[] = "Sec-WebSocket-Key: ";

const char* const kAllowedOrigins[] = {
    "https://discord.com",
    "https://ptb.discord.com",
    "https://canary.discord.com",
};

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return i == a.size() && !b[i];
}

std::string TrimBlanks(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

bool IsAllowedOriginValue(const std::string& origin) {
  for (const char* allowed : kAllowedOrigins)
    if (origin == allowed) return true;
  return false;
}

}  // namespace

bool IsHttpRequestComplete(const std::string& received) {
  return received.find("\r\n\r\n") != std::string::npos;
}

bool ExtractWebSocketKey(const std::string& request, std::string& key) {
  size_t at = request.find(kKeyHeader);
  if (at == std::string::npos) return false;
  size_t begin = at + sizeof(kKeyHeader) - 1;
  size_t end = request.find("\r\n", begin);
  if (end == std::string::npos) return false;
  key = request.substr(begin, end - begin);
  return true;
}

bool IsAllowedWebSocketOrigin(const std::string& request, std::string& refusedOrigin) {
  // Header lines only: the request line comes first, the blank line ends them.
  size_t line = request.find("\r\n");
  while (line != std::string::npos) {
    size_t begin = line + 2;
    size_t end = request.find("\r\n", begin);
    std::string text = request.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    if (text.empty()) break;
    size_t colon = text.find(':');
    if (colon != std::string::npos && EqualsIgnoringCase(TrimBlanks(text.substr(0, colon)), "origin")) {
      std::string origin = TrimBlanks(text.substr(colon + 1));
      if (!IsAllowedOriginValue(origin)) {
        refusedOrigin = origin;
        return false;
      }
    }
    line = end;
  }
  return true;
}

std::string Base64Encode(const uint8_t* data, size_t size) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  for (size_t i = 0; i < size; i += 3) {
    uint32_t group = static_cast<uint32_t>(data[i]) << 16;
    if (i + 1 < size) group |= static_cast<uint32_t>(data[i + 1]) << 8;
    if (i + 2 < size) group |= data[i + 2];
    out += kAlphabet[(group >> 18) & 0x3F];
    out += kAlphabet[(group >> 12) & 0x3F];
    out += i + 1 < size ? kAlphabet[(group >> 6) & 0x3F] : '=';
    out += i + 2 < size ? kAlphabet[group & 0x3F] : '=';
  }
  return out;
}

std::string BuildWebSocketAcceptResponse(const std::string& acceptValue) {
  return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
         "Sec-WebSocket-Accept: " +
         acceptValue + "\r\n\r\n";
}
