#include <gtest/gtest.h>

#include <cstring>

#include "notify/websocket_handshake.h"

namespace {

std::string Request(const std::string& headers) {
  return "GET / HTTP/1.1\r\nHost: 127.0.0.1:47523\r\nUpgrade: websocket\r\n" + headers + "\r\n";
}

}  // namespace

TEST(ExtractWebSocketKey, HeaderRules) {
  struct Case {
    std::string request;
    bool found;
    std::string key;
  };
  const Case cases[] = {
      {Request("Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"), true, "dGhlIHNhbXBsZSBub25jZQ=="},
      {Request("Sec-WebSocket-Key: spaced  \r\n"), true, "spaced  "},
      {Request("sec-websocket-key: dGhlIHNhbXBsZSBub25jZQ==\r\n"), false, ""},
      {Request("Sec-WebSocket-Key:dGhlIHNhbXBsZSBub25jZQ==\r\n"), false, ""},
      {"GET / HTTP/1.1\r\nSec-WebSocket-Key: unterminated", false, ""},
      {Request(""), false, ""},
  };
  for (const Case& c : cases) {
    std::string key;
    EXPECT_EQ(ExtractWebSocketKey(c.request, key), c.found) << c.request;
    EXPECT_EQ(key, c.key) << c.request;
  }
}

TEST(IsAllowedWebSocketOrigin, OnlyLocalToolsAndDiscord) {
  struct Case {
    const char* headers;
    bool allowed;
    const char* refused;
  };
  const Case cases[] = {
      {"", true, ""},
      {"Origin: https://discord.com\r\n", true, ""},
      {"origin:https://ptb.discord.com \r\n", true, ""},
      {"ORIGIN: https://canary.discord.com\r\n", true, ""},
      {"Origin: null\r\n", false, "null"},
      {"Origin: https://evil.example\r\n", false, "https://evil.example"},
      {"Origin: https://discord.com.evil.example\r\n", false, "https://discord.com.evil.example"},
      {"Origin: http://discord.com\r\n", false, "http://discord.com"},
      {"Origin: https://discord.com:8443\r\n", false, "https://discord.com:8443"},
      {"Origin: https://discord.com\r\nOrigin: null\r\n", false, "null"},
      {"X-Origin: https://evil.example\r\n", true, ""},
  };
  for (const Case& c : cases) {
    std::string refused;
    EXPECT_EQ(IsAllowedWebSocketOrigin(Request(c.headers), refused), c.allowed) << c.headers;
    EXPECT_EQ(refused, c.refused) << c.headers;
  }
  // Only the header block counts, not a body after the blank line.
  std::string refused;
  EXPECT_TRUE(IsAllowedWebSocketOrigin(Request("") + "Origin: null\r\n", refused));
}

TEST(Base64Encode, Rfc4648Vectors) {
  const char* vectors[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
                              {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
  for (auto& v : vectors)
    EXPECT_EQ(Base64Encode(reinterpret_cast<const uint8_t*>(v[0]), std::strlen(v[0])), v[1]) << v[0];
  const uint8_t high[] = {0xFF, 0xFE, 0x00};
  EXPECT_EQ(Base64Encode(high, 3), "//4A");
}

TEST(HttpRequest, CompleteOnlyAfterBlankLine) {
  EXPECT_FALSE(IsHttpRequestComplete("GET / HTTP/1.1\r\nHost: x\r\n"));
  EXPECT_TRUE(IsHttpRequestComplete("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
}
