// The simulator's web side: the OAuth2 token endpoint and the avatar CDN,
// as pure request-to-reply rules (served by the loopback HTTP server).
#pragma once

#include <optional>
#include <string>

#include "tools/discord_sim/sim_discord.h"

enum class SimTokenMode { Ok, Error, NotJson };

struct SimHttpReply {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
};

// POST /api/oauth2/token with a form body. Ok checks the form like the real
// endpoint and issues a token for a code that AUTHORIZE handed out.
SimHttpReply TokenEndpointReply(const std::string& formBody, SimTokenMode mode, SimAuthRegistry& auth);
// The value of one field of an x-www-form-urlencoded body (not decoded).
std::string FormField(const std::string& body, const std::string& name);
// GET /avatars/<user id>/<hash>.png[?size=N]: a round face in a colour
// taken from the hash; none for any other path.
std::optional<std::string> AvatarPng(const std::string& path, const std::string& query);
