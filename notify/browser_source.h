// The browser source: pages for OBS on the loopback address, showing the
// voice overlay's members and the notification cards, pushed to the page as
// server-sent events. This half has no platform calls: what the pages are
// told (JSON), how requests are read, and which of them are answered.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

constexpr uint16_t kBrowserSourcePort = 47524;
// A held port is followed by the next ones, up to this many in all.
constexpr int kBrowserSourcePortTries = 10;

// One member as the page sees it; UTF-8. avatarPath is the same-origin path
// of the cached picture, empty while Voxmere has none (the page draws the
// placeholder then).
struct BrowserMember {
  std::string id;
  std::string name;
  std::string avatarPath;
  bool speaking = false;
  bool muted = false;
  bool deafened = false;
  bool bot = false;
  bool live = false;
  bool self = false;
  bool hidden = false;  // named in the overlay's hidden members
};

struct BrowserVoiceState {
  std::string source;  // "plugin", "rpc" or "none"
  bool onlySpeaking = false;    // the overlay's own filter, for ?filters=overlay
  bool alwaysShowSelf = true;
  std::vector<BrowserMember> members;  // as the overlay orders them
};

struct BrowserCard {
  std::string name;
  std::string content;
  std::string channel;
  std::string server;
  std::string avatarPath;
  uint32_t durationMs = 5000;
};

std::string FormatVoiceStateJson(const BrowserVoiceState& state);
std::string FormatCardJson(const BrowserCard& card);
// One event of a text/event-stream: every line of data gets its own "data:".
std::string FormatServerSentEvent(const std::string& event, const std::string& data);
// "/avatars/<key>?h=<hash>" for a cache key ("<id>" or "<guild>/<id>") made of
// the characters Discord ids and hashes use; empty otherwise.
std::string BrowserAvatarPath(const std::string& key, const std::string& hash);

struct HttpRequestHead {
  std::string method;
  std::string path;   // the target before '?'
  std::string query;  // after '?', without it
  std::vector<std::pair<std::string, std::string>> headers;  // names as sent, values trimmed

  // Every value of the header, matched in any case.
  std::vector<std::string> Values(const char* name) const;
};

// The request line and header lines of a complete head (ending in a blank
// line); false for anything else, with the reason.
bool ParseHttpRequestHead(const std::string& text, HttpRequestHead& head, std::string* reason);

enum class BrowserRoute { VoicePage, CardsPage, VoiceEvents, CardsEvents, Avatar, Refused };

struct BrowserDecision {
  BrowserRoute route = BrowserRoute::Refused;
  int status = 200;         // the refusal's status when Refused
  std::string avatarKey;    // for Avatar
  std::string reason;       // for the log when Refused
};

// What a request gets. Everything needs one Host naming this port on
// 127.0.0.1 or localhost (a rebound DNS name is refused); the event streams
// and the avatars, which tell who is in the channel, also need the pages' own
// origin or none (no Origin, Sec-Fetch-Site none or same-origin), so another
// site's page can neither read nor probe them.
BrowserDecision DecideBrowserRequest(const HttpRequestHead& head, uint16_t port);

// A whole response with Content-Length, for closing after it. No CORS header
// is ever sent.
std::string BuildHttpResponse(int status, const char* contentType, const std::string& body,
                              const std::string& extraHeaders = std::string());
// The head of an event stream; events follow until either side closes.
std::string BuildEventStreamHead();
// "image/png", "image/jpeg", "image/gif" or "image/webp" by the bytes' magic;
// "application/octet-stream" otherwise.
const char* ImageContentType(const std::string& bytes);
