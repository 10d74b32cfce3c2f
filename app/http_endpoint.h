// Where the token request and avatar downloads go. The built-in hosts are
// Discord's over HTTPS; a developer may point them at a loopback server with
// VOXMERE_API_BASE / VOXMERE_CDN_BASE ("http://127.0.0.1:8765").
#pragma once

#include <optional>
#include <string>

struct HttpEndpoint {
  bool secure = true;
  std::wstring host;
  int port = 443;
};

constexpr const wchar_t* kDiscordApiHost = L"discord.com";
constexpr const wchar_t* kDiscordCdnHost = L"cdn.discordapp.com";

// "http://host[:port][/]" or "https://host[:port][/]"; none when malformed,
// and for http:// to a host other than 127.0.0.0/8, localhost or [::1].
std::optional<HttpEndpoint> ParseHttpBase(const std::string& base);
// The override named by envName when set and well formed, else defaultHost.
HttpEndpoint ResolveHttpEndpoint(const char* envName, const wchar_t* defaultHost);
