// How avatars are asked for: the CDN path, the body cap and the retry delay.
// Ids and hashes come from peers, so only the characters Discord uses are let
// into the request path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Bodies larger than this are failed downloads.
constexpr size_t kMaxAvatarBytes = 8 * 1024 * 1024;

// "/avatars/<id>/<hash>.png?size=64", or empty when either part is empty or
// holds anything but ASCII letters, digits, '_' and '-'.
std::wstring AvatarRequestPath(const std::wstring& userId, const std::wstring& avatarHash);

// A failed download of an id waits before the next one: 2 s, doubling up to
// 5 minutes, so a missing picture is asked for again without hammering the CDN.
uint32_t AvatarRetryDelayMs(int failures);
