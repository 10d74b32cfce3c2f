#include "notify/browser_source.h"

#include <cctype>

#include "app/json.h"

namespace {

constexpr size_t kLoggedValueBytes = 80;

bool IsIdCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'; }

bool IsIdText(const std::string& text) {
  if (text.empty() || text.size() > 64) return false;
  for (char c : text)
    if (!IsIdCharacter(c)) return false;
  return true;
}

// "<id>" or "<guild>/<id>", as the avatar cache keys its pictures.
bool IsAvatarKey(const std::string& key) {
  const size_t slash = key.find('/');
  if (slash == std::string::npos) return IsIdText(key);
  return IsIdText(key.substr(0, slash)) && IsIdText(key.substr(slash + 1));
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// For a log line: short, and nothing that breaks the line.
std::string Shown(const std::string& value) {
  std::string shown;
  for (char c : value.substr(0, kLoggedValueBytes)) shown += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
  return shown.size() < value.size() ? shown + "..." : shown;
}

BrowserDecision Refuse(int status, std::string reason) {
  BrowserDecision decision;
  decision.status = status;
  decision.reason = std::move(reason);
  return decision;
}

bool IsOwnHost(const std::string& host, uint16_t port) {
  const std::string suffix = ":" + std::to_string(port);
  const std::string lower = Lower(host);
  return lower == "127.0.0.1" + suffix || lower == "localhost" + suffix;
}

// The pages' own origin, or a request no other site's page made.
bool IsOwnOrigin(const HttpRequestHead& head, uint16_t port, std::string* refused) {
  const std::string suffix = ":" + std::to_string(port);
  for (const std::string& origin : head.Values("Origin")) {
    const std::string lower = Lower(origin);
    if (lower != "http://127.0.0.1" + suffix && lower != "http://localhost" + suffix) {
      *refused = "Origin " + Shown(origin);
      return false;
    }
  }
  for (const std::string& site : head.Values("Sec-Fetch-Site")) {
    const std::string lower = Lower(site);
    if (lower != "same-origin" && lower != "none") {
      *refused = "Sec-Fetch-Site " + Shown(site);
      return false;
    }
  }
  return true;
}

const char* StatusText(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 503: return "Service Unavailable";
    default: return "Error";
  }
}

}  // namespace

std::string FormatVoiceStateJson(const BrowserVoiceState& state) {
  Json members = Json::array();
  for (const BrowserMember& m : state.members) {
    members.push_back({{"id", m.id},
                       {"name", m.name},
                       {"avatar", m.avatarPath},
                       {"speaking", m.speaking},
                       {"muted", m.muted},
                       {"deafened", m.deafened},
                       {"bot", m.bot},
                       {"live", m.live},
                       {"self", m.self},
                       {"hidden", m.hidden}});
  }
  Json overlayFilter = {{"onlySpeaking", state.onlySpeaking}, {"alwaysShowSelf", state.alwaysShowSelf}};
  return FormatJson({{"source", state.source}, {"overlayFilter", overlayFilter}, {"members", members}});
}

std::string FormatCardJson(const BrowserCard& card) {
  return FormatJson({{"name", card.name},
                     {"content", card.content},
                     {"channel", card.channel},
                     {"server", card.server},
                     {"avatar", card.avatarPath},
                     {"duration", card.durationMs}});
}

std::string FormatServerSentEvent(const std::string& event, const std::string& data) {
  std::string text = "event: " + event + "\n";
  size_t start = 0;
  while (true) {
    size_t end = data.find_first_of("\r\n", start);
    text += "data: " + data.substr(start, end == std::string::npos ? std::string::npos : end - start) + "\n";
    if (end == std::string::npos) break;
    start = end + (data.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return text + "\n";
}

std::string BrowserAvatarPath(const std::string& key, const std::string& hash) {
  if (!IsAvatarKey(key) || !IsIdText(hash)) return {};
  return "/avatars/" + key + "?h=" + hash;
}

std::vector<std::string> HttpRequestHead::Values(const char* name) const {
  std::vector<std::string> values;
  const std::string wanted = Lower(name);
  for (const auto& [key, value] : headers)
    if (Lower(key) == wanted) values.push_back(value);
  return values;
}

bool ParseHttpRequestHead(const std::string& text, HttpRequestHead& head, std::string* reason) {
  const size_t end = text.find("\r\n\r\n");
  if (end == std::string::npos) {
    *reason = "no end of the header block";
    return false;
  }
  size_t lineEnd = text.find("\r\n");
  const std::string requestLine = text.substr(0, lineEnd);
  const size_t space1 = requestLine.find(' ');
  const size_t space2 = space1 == std::string::npos ? std::string::npos : requestLine.find(' ', space1 + 1);
  const std::string version = space2 == std::string::npos ? std::string() : requestLine.substr(space2 + 1);
  if (version != "HTTP/1.1" && version != "HTTP/1.0") {
    *reason = "request line " + Shown(requestLine);
    return false;
  }
  head.method = requestLine.substr(0, space1);
  const std::string target = requestLine.substr(space1 + 1, space2 - space1 - 1);
  if (target.empty() || target[0] != '/') {
    *reason = "target " + Shown(target);
    return false;
  }
  const size_t question = target.find('?');
  head.path = target.substr(0, question);
  head.query = question == std::string::npos ? std::string() : target.substr(question + 1);
  head.headers.clear();
  while (lineEnd < end) {
    const size_t begin = lineEnd + 2;
    lineEnd = text.find("\r\n", begin);
    const std::string line = text.substr(begin, lineEnd - begin);
    const size_t colon = line.find(':');
    // A name with blanks around it would let two readers disagree on it.
    if (colon == std::string::npos || colon == 0 || line[0] == ' ' || line[0] == '\t' ||
        line[colon - 1] == ' ' || line[colon - 1] == '\t') {
      *reason = "header line " + Shown(line);
      return false;
    }
    head.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
  }
  return true;
}

BrowserDecision DecideBrowserRequest(const HttpRequestHead& head, uint16_t port) {
  const std::vector<std::string> hosts = head.Values("Host");
  if (hosts.size() != 1 || !IsOwnHost(hosts[0], port))
    return Refuse(403, hosts.size() == 1 ? "Host " + Shown(hosts[0]) : std::to_string(hosts.size()) + " Host headers");
  if (head.method != "GET") return Refuse(405, "method " + Shown(head.method));

  BrowserDecision decision;
  if (head.path == "/voice") decision.route = BrowserRoute::VoicePage;
  else if (head.path == "/cards") decision.route = BrowserRoute::CardsPage;
  else if (head.path == "/events/voice") decision.route = BrowserRoute::VoiceEvents;
  else if (head.path == "/events/cards") decision.route = BrowserRoute::CardsEvents;
  else if (head.path.rfind("/avatars/", 0) == 0 && IsAvatarKey(head.path.substr(9))) {
    decision.route = BrowserRoute::Avatar;
    decision.avatarKey = head.path.substr(9);
  } else {
    return Refuse(404, "path " + Shown(head.path));
  }
  if (decision.route == BrowserRoute::VoicePage || decision.route == BrowserRoute::CardsPage) return decision;
  std::string refused;
  if (!IsOwnOrigin(head, port, &refused)) return Refuse(403, refused + " for " + head.path);
  return decision;
}

std::string BuildHttpResponse(int status, const char* contentType, const std::string& body,
                              const std::string& extraHeaders) {
  return "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) + "\r\nContent-Type: " + contentType +
         "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n" + extraHeaders + "\r\n" + body;
}

std::string BuildEventStreamHead() {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream; charset=utf-8\r\nCache-Control: no-store\r\n"
         "Cross-Origin-Resource-Policy: same-origin\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n";
}

const char* ImageContentType(const std::string& bytes) {
  if (bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0) return "image/png";
  if (bytes.compare(0, 3, "\xff\xd8\xff") == 0) return "image/jpeg";
  if (bytes.compare(0, 4, "GIF8") == 0) return "image/gif";
  if (bytes.size() >= 12 && bytes.compare(0, 4, "RIFF") == 0 && bytes.compare(8, 4, "WEBP") == 0) return "image/webp";
  return "application/octet-stream";
}
