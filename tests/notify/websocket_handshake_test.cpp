#include <gtest/gtest.h>

#include "notify/websocket_handshake.h"

// The key header is matched exactly up to its CR LF; Origin in any case, and
// only local tools (no Origin) and Discord's own pages are let in.
TEST(WebSocketHandshake, KeyAndOrigin) {
  const struct { const char *headers, *key; bool allowed; const char* refused; } cases[] = {
      {"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n", "dGhlIHNhbXBsZSBub25jZQ==", true, ""},
      {"Sec-WebSocket-Key: spaced  \r\nOrigin: null\r\n", "spaced  ", false, "null"},
      {"sec-websocket-key: x\r\norigin:https://ptb.discord.com \r\n", "", true, ""},
      {"ORIGIN: https://canary.discord.com\r\n", "", true, ""},
      {"Origin: https://discord.com.evil.example\r\n", "", false, "https://discord.com.evil.example"},
      {"Origin: http://discord.com\r\n", "", false, "http://discord.com"},
      {"Origin: https://discord.com\r\nOrigin: null\r\n", "", false, "null"},
      {"X-Origin: https://evil.example\r\n", "", true, ""},
      // Only the header block counts, not what follows the blank line.
      {"\r\nOrigin: null\r\n", "", true, ""},
  };
  for (const auto& c : cases) {
    const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1:47523\r\n" + std::string(c.headers) + "\r\n";
    std::string key, refused;
    EXPECT_EQ(ExtractWebSocketKey(request, key), *c.key != 0) << c.headers;
    EXPECT_EQ(IsAllowedWebSocketOrigin(request, refused), c.allowed) << c.headers;
    EXPECT_EQ(key + "|" + refused, std::string(c.key) + "|" + c.refused) << c.headers;
  }
  std::string key;
  EXPECT_FALSE(ExtractWebSocketKey("GET / HTTP/1.1\r\nSec-WebSocket-Key: unterminated", key));
}
