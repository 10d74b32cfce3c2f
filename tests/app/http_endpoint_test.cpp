#include <gtest/gtest.h>

#include "app/http_endpoint.h"

TEST(HttpEndpoint, ParsesOverrides) {
  auto plain = ParseHttpBase("http://127.0.0.1:8765"), secure = ParseHttpBase("https://example.test/");
  EXPECT_TRUE(plain && secure && !plain->secure && plain->host == L"127.0.0.1" && plain->port == 8765 && secure->secure && secure->port == 443);
  for (const char* bad : {"", "ftp://x", "http://", "http://h:", "http://h:99999", "http://h:1x", "http://h/path"})
    EXPECT_FALSE(ParseHttpBase(bad)) << bad;
}
