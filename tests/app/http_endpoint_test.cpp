#include <gtest/gtest.h>

#include "app/http_endpoint.h"

TEST(HttpEndpoint, ParsesOverrides) {
  auto plain = ParseHttpBase("http://127.0.0.1:8765"), secure = ParseHttpBase("https://example.test/");
  EXPECT_TRUE(plain && secure && !plain->secure && plain->host == L"127.0.0.1" && plain->port == 8765 &&
              secure->secure && secure->port == 443);
  // Plain HTTP only to this machine: the client secret must not cross a network unencrypted.
  for (const char* good : {"http://localhost:1/", "http://[::1]:8080", "http://127.255.0.9", "https://10.0.0.1"})
    EXPECT_TRUE(ParseHttpBase(good)) << good;
  for (const char* bad : {"", "ftp://x", "http://", "http://127.0.0.1:", "http://localhost:99999", "http://[::1]:1x",
                          "http://127.0.0.1/path", "http://example.test:8765", "http://10.0.0.1",
                          "http://127.0.0.1.evil.test", "http://127.256.0.1", "http://127.0.1", "http://[::2]",
                          "http://localhost.evil.test"})
    EXPECT_FALSE(ParseHttpBase(bad)) << bad;
}
