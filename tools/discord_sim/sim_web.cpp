#include "tools/discord_sim/sim_web.h"

#include <cstdlib>
#include <vector>

#include "tools/loopback_http/test_png.h"

namespace {

SimHttpReply JsonReply(int status, const std::string& body) {
  SimHttpReply reply;
  reply.status = status;
  reply.body = body;
  return reply;
}

SimHttpReply OAuthError(int status, const std::string& error, const std::string& description) {
  return JsonReply(status, "{\"error\":" + JsonQuote(error) + ",\"error_description\":" + JsonQuote(description) + "}");
}

uint32_t HashColour(const std::string& hash) {
  uint32_t h = 2166136261u;
  for (unsigned char c : hash) h = (h ^ c) * 16777619u;
  // Keep it bright enough to see on a dark overlay.
  return 0xFF000000u | (0x40 + (h & 0x7F)) << 16 | (0x40 + ((h >> 8) & 0x7F)) << 8 | (0x40 + ((h >> 16) & 0x7F));
}

std::string FacePng(int size, uint32_t colour) {
  std::vector<uint32_t> pixels(static_cast<size_t>(size) * size, colour);
  double c = (size - 1) / 2.0;
  auto inCircle = [&](double x, double y, double cx, double cy, double r) {
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
  };
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      bool eye = inCircle(x, y, c - size * 0.17, c - size * 0.12, size * 0.07) ||
                 inCircle(x, y, c + size * 0.17, c - size * 0.12, size * 0.07);
      bool mouth = inCircle(x, y, c, c + size * 0.05, size * 0.25) && !inCircle(x, y, c, c, size * 0.25) &&
                   y > c + size * 0.1;
      if (eye || mouth) pixels[static_cast<size_t>(y) * size + x] = 0xFFFFFFFFu;
    }
  }
  return EncodePng(size, size, pixels);
}

}  // namespace

std::string FormField(const std::string& body, const std::string& name) {
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    std::string pair = body.substr(start, end - start);
    size_t eq = pair.find('=');
    if (pair.substr(0, eq) == name) return eq == std::string::npos ? "" : pair.substr(eq + 1);
    start = end + 1;
  }
  return {};
}

SimHttpReply TokenEndpointReply(const std::string& formBody, SimTokenMode mode, SimAuthRegistry& auth) {
  if (mode == SimTokenMode::NotJson) {
    SimHttpReply reply;
    reply.status = 502;
    reply.contentType = "text/html";
    reply.body = "<html><head><title>502 Bad Gateway</title></head><body><h1>502 Bad Gateway</h1></body></html>";
    return reply;
  }
  if (mode == SimTokenMode::Error) return OAuthError(400, "invalid_grant", "Invalid \"code\" in request.");
  if (FormField(formBody, "grant_type") != "authorization_code")
    return OAuthError(400, "unsupported_grant_type", "Unsupported grant type");
  if (FormField(formBody, "client_id").empty() || FormField(formBody, "client_secret").empty())
    return OAuthError(401, "invalid_client", "Unknown client");
  std::string token = auth.RedeemCode(FormField(formBody, "code"));
  if (token.empty()) return OAuthError(400, "invalid_grant", "Invalid \"code\" in request.");
  return JsonReply(200, "{\"token_type\":\"Bearer\",\"access_token\":" + JsonQuote(token) +
                       ",\"expires_in\":604800,\"refresh_token\":\"SimRefreshTokenSECRETabc\",\"scope\":\"rpc "
                       "rpc.voice.read\"}");
}

std::optional<std::string> AvatarPng(const std::string& requested, const std::string& query) {
  // A server picture, /guilds/{guild}/users/{user}/avatars/{hash}.png, is
  // drawn as the user's own picture of that hash would be.
  std::string path = requested;
  const std::string guilds = "/guilds/";
  if (path.rfind(guilds, 0) == 0) {
    const size_t users = path.find("/users/", guilds.size());
    const size_t avatars = users == std::string::npos ? users : path.find("/avatars/", users + 7);
    if (users == std::string::npos || users == guilds.size() || avatars == std::string::npos || avatars == users + 7)
      return std::nullopt;
    path = "/avatars/" + path.substr(users + 7, avatars - users - 7) + "/" + path.substr(avatars + 9);
  }
  const std::string prefix = "/avatars/";
  if (path.rfind(prefix, 0) != 0 || path.size() < prefix.size() + 7 || path.substr(path.size() - 4) != ".png")
    return std::nullopt;
  std::string rest = path.substr(prefix.size(), path.size() - prefix.size() - 4);
  size_t slash = rest.find('/');
  if (slash == std::string::npos || slash == 0 || slash + 1 == rest.size() || rest.find('/', slash + 1) != std::string::npos)
    return std::nullopt;
  int size = 64;
  std::string sizeText = FormField(query, "size");
  if (!sizeText.empty()) size = std::atoi(sizeText.c_str());
  if (size < 16 || size > 512) size = 64;
  return FacePng(size, HashColour(rest.substr(slash + 1)));
}
