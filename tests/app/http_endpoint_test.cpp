#include <gtest/gtest.h>

#include "app/http_endpoint.h"

TEST(HttpEndpoint, ParsesOverrides) {
  auto e = ParseHttpBase("http://127.0.0.1:8765");
  ASSERT_TRUE(e);
  EXPECT_FALSE(e->secure);
  EXPECT_EQ(e->host, L"127.0.0.1");
  EXPECT_EQ(e->port, 8765);
  e = ParseHttpBase("https://example.test/");
  ASSERT_TRUE(e);
  EXPECT_TRUE(e->secure);
  EXPECT_EQ(e->port, 443);
  for (const char* bad : {"", "ftp://x", "http://", "http://h:", "http://h:99999", "http://h:1x", "http://h/path"})
    EXPECT_FALSE(ParseHttpBase(bad)) << bad;
}
