#include <gtest/gtest.h>

#include "notify/websocket_handshake.h"

namespace {

std::string Request(const std::string& headers) {
  return "GET / HTTP/1.1\r\nHost: 127.0.0.1:47523\r\nUpgrade: websocket\r\n" + headers + "\r\n";
}

}  // namespace

TEST(ExtractWebSocketKey, ExactHeaderUpToCrLf) {
  const struct {
    std::string request;
    bool found;
    std::string key;
  } cases[] = {
      {Request("Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"), true, "dGhlIHNhbXBsZSBub25jZQ=="},
      {Request("Sec-WebSocket-Key: spaced  \r\n"), true, "spaced  "},
      {Request("sec-websocket-key: dGhlIHNhbXBsZSBub25jZQ==\r\n"), false, ""},
      {"GET / HTTP/1.1\r\nSec-WebSocket-Key: unterminated", false, ""},
  };
  for (const auto& c : cases) {
    std::string key;
    EXPECT_EQ(ExtractWebSocketKey(c.request, key), c.found) << c.request;
    EXPECT_EQ(key, c.key) << c.request;
  }
}

TEST(IsAllowedWebSocketOrigin, OnlyLocalToolsAndDiscord) {
  const struct {
    const char* headers;
    bool allowed;
    const char* refused;
  } cases[] = {
      {"", true, ""},
      {"origin:https://ptb.discord.com \r\n", true, ""},
      {"ORIGIN: https://canary.discord.com\r\n", true, ""},
      {"Origin: null\r\n", false, "null"},
      {"Origin: https://discord.com.evil.example\r\n", false, "https://discord.com.evil.example"},
      {"Origin: http://discord.com\r\n", false, "http://discord.com"},
      {"Origin: https://discord.com\r\nOrigin: null\r\n", false, "null"},
      {"X-Origin: https://evil.example\r\n", true, ""},
  };
  for (const auto& c : cases) {
    std::string refused;
    EXPECT_EQ(IsAllowedWebSocketOrigin(Request(c.headers), refused), c.allowed) << c.headers;
    EXPECT_EQ(refused, c.refused) << c.headers;
  }
  // Only the header block counts, not what follows the blank line.
  std::string refused;
  EXPECT_TRUE(IsAllowedWebSocketOrigin(Request("") + "Origin: null\r\n", refused));
}
