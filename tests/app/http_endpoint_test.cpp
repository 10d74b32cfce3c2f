#include <gtest/gtest.h>

#include <cstdlib>

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
  // Plain HTTP only to this machine.
  for (const char* good : {"http://localhost:1/", "http://[::1]:8080", "http://127.255.0.9", "https://10.0.0.1"})
    EXPECT_TRUE(ParseHttpBase(good)) << good;
  for (const char* bad : {"", "ftp://x", "http://", "http://127.0.0.1:", "http://localhost:99999", "http://[::1]:1x",
                          "http://127.0.0.1/path", "http://example.test:8765", "http://10.0.0.1", "http://127.0.0.1.evil.test",
                          "http://127.256.0.1", "http://127.0.1", "http://[::2]", "http://localhost.evil.test"})
    EXPECT_FALSE(ParseHttpBase(bad)) << bad;
}

TEST(HttpEndpoint, DefaultIsTheBuiltInHostOverHttps) {
  HttpEndpoint e = ResolveHttpEndpoint("VOXMERE_TEST_UNSET_BASE", kDiscordApiHost);
  EXPECT_TRUE(e.secure);
  EXPECT_EQ(e.host, L"discord.com");
  EXPECT_EQ(e.port, 443);
}
