// How avatars are asked for: the CDN path, the body cap and the retry delay.
// Ids and hashes come from peers, so only the characters Discord uses are let
// into the request path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/voice_user.h"

// Bodies larger than this are failed downloads.
constexpr size_t kMaxAvatarBytes = 8 * 1024 * 1024;

// Which picture of a member: their own, or with a guild id the one they set
// for that server.
struct AvatarSource {
  std::wstring userId;
  std::wstring avatarHash;
  std::wstring guildId;
};

// A member's picture: the one for the channel's server where they set one.
AvatarSource MemberAvatarSource(const VoiceUser& member);

// The CDN's picture size for a picture drawn that many pixels wide: the
// smallest power of two at least as wide, from 64 to 512, so a tile at any
// display scale is drawn from a picture no smaller than itself.
int AvatarPictureSize(float drawnPixels);

// "/avatars/<id>/<hash>.png?size=64", or for a server picture
// "/guilds/<guild>/users/<id>/avatars/<hash>.png?size=64" (with that picture
// size); empty when a part is empty (the guild id may be) or holds anything
// but ASCII letters, digits, '_' and '-'.
std::wstring AvatarRequestPath(const AvatarSource& source, int pictureSize = 64);
// The cache's key: the user id for their own picture, "<guild>/<id>" for a
// server one, so that neither stands in for the other.
std::wstring AvatarCacheKey(const AvatarSource& source);

// A failed download of an id waits before the next one: 2 s, doubling up to
// 5 minutes, so a missing picture is asked for again without hammering the CDN.
uint32_t AvatarRetryDelayMs(int failures);
