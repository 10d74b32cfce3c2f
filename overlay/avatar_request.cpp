#include "overlay/avatar_request.h"

#include <algorithm>

#include "app/backoff.h"
#include "app/text_convert.h"

namespace {

constexpr size_t kMaxPartUnits = 64;
constexpr uint32_t kFirstRetryDelayMs = 2000;
constexpr uint32_t kMaxRetryDelayMs = 5 * 60 * 1000;
constexpr int kSmallestPicture = 64;
constexpr int kLargestPicture = 512;

bool UsablePart(const std::wstring& part) {
  if (part.empty() || part.size() > kMaxPartUnits) return false;
  return std::all_of(part.begin(), part.end(), [](wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_' ||
           c == L'-';
  });
}

}  // namespace

AvatarSource MemberAvatarSource(const VoiceUser& member) {
  // The avatar cache keys pictures and builds paths in UTF-16.
  const std::wstring id = Utf8ToWide(member.id);
  if (member.guildAvatarHash.empty() || member.guildId.empty()) return {id, member.avatarHash, {}};
  return {id, member.guildAvatarHash, member.guildId};
}

int AvatarPictureSize(float drawnPixels) {
  int size = kSmallestPicture;
  while (size < kLargestPicture && static_cast<float>(size) < drawnPixels) size *= 2;
  return size;
}

std::wstring AvatarRequestPath(const AvatarSource& source, int pictureSize) {
  if (!UsablePart(source.userId) || !UsablePart(source.avatarHash)) return std::wstring();
  const std::wstring picture = source.avatarHash + L".png?size=" + std::to_wstring(pictureSize);
  if (source.guildId.empty()) return L"/avatars/" + source.userId + L"/" + picture;
  if (!UsablePart(source.guildId)) return std::wstring();
  return L"/guilds/" + source.guildId + L"/users/" + source.userId + L"/avatars/" + picture;
}

std::wstring AvatarCacheKey(const AvatarSource& source) {
  return source.guildId.empty() ? source.userId : source.guildId + L"/" + source.userId;
}

uint32_t AvatarRetryDelayMs(int failures) { return DoublingDelayMs(failures, kFirstRetryDelayMs, kMaxRetryDelayMs); }
