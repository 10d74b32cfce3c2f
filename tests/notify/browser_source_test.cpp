#include <gtest/gtest.h>

#include "app/json.h"
#include "notify/browser_source.h"

namespace {

constexpr uint16_t kPort = 47524;

BrowserDecision Decide(const std::string& head) {
  HttpRequestHead parsed;
  std::string reason;
  EXPECT_TRUE(ParseHttpRequestHead(head + "\r\n", parsed, &reason)) << head << ": " << reason;
  return DecideBrowserRequest(parsed, kPort);
}

}  // namespace

// Everything needs this machine's own Host with the port; the streams and the
// pictures also need the pages' origin (or no browser's at all).
TEST(BrowserSourceRequest, HostOriginAndRoute) {
  const struct {
    const char* head;
    BrowserRoute route;
    int status;
    const char* reason;
  } cases[] = {
      {"GET /voice?limit_speaking=true HTTP/1.1\r\nHost: 127.0.0.1:47524\r\n", BrowserRoute::VoicePage, 200, ""},
      {"GET /cards HTTP/1.1\r\nhost: LOCALHOST:47524\r\n", BrowserRoute::CardsPage, 200, ""},
      // DNS rebinding: a name of another site that resolves here.
      {"GET /voice HTTP/1.1\r\nHost: evil.example:47524\r\n", BrowserRoute::Refused, 403, "Host evil.example:47524"},
      {"GET /voice HTTP/1.1\r\nHost: 127.0.0.1\r\n", BrowserRoute::Refused, 403, "Host 127.0.0.1"},
      {"GET /voice HTTP/1.1\r\nHost: 127.0.0.1:47525\r\n", BrowserRoute::Refused, 403, "Host 127.0.0.1:47525"},
      {"GET /voice HTTP/1.1\r\n", BrowserRoute::Refused, 403, "0 Host headers"},
      {"GET /voice HTTP/1.1\r\nHost: 127.0.0.1:47524\r\nHost: evil.example\r\n", BrowserRoute::Refused, 403,
       "2 Host headers"},
      {"POST /voice HTTP/1.1\r\nHost: 127.0.0.1:47524\r\n", BrowserRoute::Refused, 405, "method POST"},
      {"GET /voice/ HTTP/1.1\r\nHost: 127.0.0.1:47524\r\n", BrowserRoute::Refused, 404, "path /voice/"},
      // A page opened from another site may show, but learns nothing from it.
      {"GET /voice HTTP/1.1\r\nHost: 127.0.0.1:47524\r\nSec-Fetch-Site: cross-site\r\n", BrowserRoute::VoicePage, 200,
       ""},
      {"GET /events/voice HTTP/1.1\r\nHost: 127.0.0.1:47524\r\n", BrowserRoute::VoiceEvents, 200, ""},
      {"GET /events/cards HTTP/1.1\r\nHost: localhost:47524\r\nOrigin: http://localhost:47524\r\n"
       "Sec-Fetch-Site: same-origin\r\n",
       BrowserRoute::CardsEvents, 200, ""},
      {"GET /events/voice HTTP/1.1\r\nHost: 127.0.0.1:47524\r\nOrigin: https://evil.example\r\n", BrowserRoute::Refused,
       403, "Origin https://evil.example for /events/voice"},
      {"GET /events/voice HTTP/1.1\r\nHost: 127.0.0.1:47524\r\nOrigin: http://127.0.0.1:47524\r\nOrigin: null\r\n",
       BrowserRoute::Refused, 403, "Origin null for /events/voice"},
      // Another port of this machine is the same site but another origin.
      {"GET /events/voice HTTP/1.1\r\nHost: 127.0.0.1:47524\r\nOrigin: http://127.0.0.1:8080\r\n",
       BrowserRoute::Refused, 403, "Origin http://127.0.0.1:8080 for /events/voice"},
      {"GET /avatars/123/456 HTTP/1.1\r\nHost: 127.0.0.1:47524\r\nSec-Fetch-Site: same-site\r\n", BrowserRoute::Refused,
       403, "Sec-Fetch-Site same-site for /avatars/123/456"},
      {"GET /avatars/123 HTTP/1.1\r\nHost: 127.0.0.1:47524\r\nSec-Fetch-Site: none\r\n", BrowserRoute::Avatar, 200, ""},
      {"GET /avatars/../config.json HTTP/1.1\r\nHost: 127.0.0.1:47524\r\n", BrowserRoute::Refused, 404,
       "path /avatars/../config.json"},
      {"GET /avatars/1/2/3 HTTP/1.1\r\nHost: 127.0.0.1:47524\r\n", BrowserRoute::Refused, 404, "path /avatars/1/2/3"},
  };
  for (const auto& c : cases) {
    const BrowserDecision decision = Decide(c.head);
    EXPECT_EQ(decision.route, c.route) << c.head;
    EXPECT_EQ(decision.status, c.status) << c.head;
    EXPECT_EQ(decision.reason, c.reason) << c.head;
  }
  EXPECT_EQ(Decide("GET /avatars/9/8?h=ab HTTP/1.1\r\nHost: 127.0.0.1:47524\r\n").avatarKey, "9/8");
}

TEST(BrowserSourceRequest, MalformedHeads) {
  const struct {
    const char* text;
    const char* reason;
  } cases[] = {
      {"GET /voice HTTP/1.1\r\nHost: 127.0.0.1:47524\r\n", "no end of the header block"},
      {"GET /voice\r\n\r\n", "request line GET /voice"},
      {"GET /voice HTTP/2\r\n\r\n", "request line GET /voice HTTP/2"},
      {"GET voice HTTP/1.1\r\n\r\n", "target voice"},
      // Names with blanks around them are read differently by different readers.
      {"GET / HTTP/1.1\r\nHost : 127.0.0.1:47524\r\n\r\n", "header line Host : 127.0.0.1:47524"},
      {"GET / HTTP/1.1\r\n Host: x\r\n\r\n", "header line  Host: x"},
      {"GET / HTTP/1.1\r\nno colon\r\n\r\n", "header line no colon"},
  };
  for (const auto& c : cases) {
    HttpRequestHead head;
    std::string reason;
    EXPECT_FALSE(ParseHttpRequestHead(c.text, head, &reason)) << c.text;
    EXPECT_EQ(reason, c.reason);
  }
  HttpRequestHead head;
  std::string reason;
  ASSERT_TRUE(ParseHttpRequestHead("GET /voice?a=1&b=%23f HTTP/1.0\r\nX-A:  one \r\nx-a:two\r\n\r\n", head, &reason));
  EXPECT_EQ(head.path, "/voice");
  EXPECT_EQ(head.query, "a=1&b=%23f");
  EXPECT_EQ(head.Values("X-A"), (std::vector<std::string>{"one", "two"}));
}

// What the page reads: names that look like markup or JSON stay text, and an
// event's data never ends the event early.
TEST(BrowserSourceEvents, MembersCardsAndEventFraming) {
  BrowserVoiceState state;
  state.source = "rpc";
  state.onlySpeaking = true;
  BrowserMember member;
  member.id = "100";
  member.name = "</script>\"x\"\n";
  member.avatarPath = BrowserAvatarPath("100", "abc");
  member.speaking = member.self = true;
  state.members.push_back(member);
  const std::string json = FormatVoiceStateJson(state);
  EXPECT_EQ(json.find('\n'), std::string::npos);
  auto parsed = ParseJson(json);
  ASSERT_TRUE(parsed);
  const Json& first = (*parsed)["members"][0];
  EXPECT_EQ(JsonString(first, "name"), member.name);
  EXPECT_EQ(JsonString(first, "avatar"), "/avatars/100?h=abc");
  EXPECT_TRUE(JsonBool(first, "speaking", false) && JsonBool(first, "self", false));
  EXPECT_FALSE(JsonBool(first, "live", true) || JsonBool(first, "hidden", true));
  EXPECT_TRUE(JsonBool((*parsed)["overlayFilter"], "onlySpeaking", false));

  EXPECT_EQ(FormatServerSentEvent("voice", "{}"), "event: voice\ndata: {}\n\n");
  EXPECT_EQ(FormatServerSentEvent("card", "a\nb\r\nc\r"), "event: card\ndata: a\ndata: b\ndata: c\ndata: \n\n");

  BrowserCard card;
  card.content = "line one\nline two";
  auto cardJson = ParseJson(FormatCardJson(card));
  ASSERT_TRUE(cardJson);
  EXPECT_EQ(JsonString(*cardJson, "content"), card.content);
  EXPECT_EQ(JsonInt(*cardJson, "duration", 0), 5000);
}

TEST(BrowserSourceEvents, AvatarPathsAndImageTypes) {
  const struct {
    const char *key, *hash, *path;
  } paths[] = {
      {"100", "a_1-b", "/avatars/100?h=a_1-b"},
      {"200/100", "abc", "/avatars/200/100?h=abc"},
      {"100", "", ""},
      {"../100", "abc", ""},
      {"100", "a?b", ""},
      {"1/2/3", "abc", ""},
  };
  for (const auto& p : paths) EXPECT_EQ(BrowserAvatarPath(p.key, p.hash), p.path) << p.key << " " << p.hash;
  EXPECT_STREQ(ImageContentType(std::string("\x89PNG\r\n\x1a\n....", 12)), "image/png");
  EXPECT_STREQ(ImageContentType("\xff\xd8\xff\xe0"), "image/jpeg");
  EXPECT_STREQ(ImageContentType("GIF89a"), "image/gif");
  EXPECT_STREQ(ImageContentType("RIFF0000WEBPVP8 "), "image/webp");
  EXPECT_STREQ(ImageContentType("<html>"), "application/octet-stream");
}
