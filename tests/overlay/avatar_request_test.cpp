#include "overlay/avatar_request.h"

#include <gtest/gtest.h>

TEST(AvatarRequestPath, CdnPathOnlyFromSafeParts) {
  const std::wstring cases[][4] = {
      // user id, avatar hash, guild id, path
      {L"80351110224678912", L"a_8342729096ea3675442027381ff50dfe", L"",
       L"/avatars/80351110224678912/a_8342729096ea3675442027381ff50dfe.png?size=64"},
      {L"42", L"9abc", L"613425648685547541", L"/guilds/613425648685547541/users/42/avatars/9abc.png?size=64"},
      {L"42", L"", L"", L""},
      {L"", L"abc", L"", L""},
      {L"42", L"../../api/users/@me", L"", L""},
      {L"42", L"abc?size=4096", L"", L""},
      {L"42", L"ab\r\nHost: evil", L"", L""},
      {L"42", L"ab\xFF10", L"", L""},  // a fullwidth digit
      {L"42", std::wstring(65, L'f'), L"", L""},
      {L"42", L"abc", L"../users/@me", L""},
      {L"42", L"", L"61", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(AvatarRequestPath({c[0], c[1], c[2]}), c[3]) << c[1].size() << " " << c[2].size();
}

// The picture is never smaller than the tile it fills: the default 48 px tile
// takes 64 at 100 %, 128 at 150 % (72 px); the CDN serves powers of two.
TEST(AvatarPictureSize, NoSmallerThanTheDrawnTile) {
  const std::pair<float, int> cases[] = {{0.0f, 64}, {48.0f, 64}, {64.0f, 64}, {64.5f, 128}, {72.0f, 128},
                                         {128.0f * 2.0f, 256}, {192.0f, 256}, {4000.0f, 512}};
  for (const auto& [pixels, size] : cases) EXPECT_EQ(AvatarPictureSize(pixels), size) << pixels;
  EXPECT_EQ(AvatarRequestPath({L"42", L"9abc", L""}, AvatarPictureSize(72.0f)), L"/avatars/42/9abc.png?size=128");
}

// A server picture never stands in for the member's own, nor for another
// server's, nor one member's for another's; a new hash keeps the picture for
// the run.
TEST(AvatarCacheKey, KeepsTheFormsApart) {
  const std::wstring own = AvatarCacheKey({L"42", L"h", L""});
  EXPECT_EQ(AvatarCacheKey({L"42", L"other", L""}), own);
  EXPECT_NE(AvatarCacheKey({L"43", L"h", L""}), own);
  EXPECT_NE(AvatarCacheKey({L"42", L"h", L"61"}), own);
  EXPECT_NE(AvatarCacheKey({L"42", L"h", L"61"}), AvatarCacheKey({L"42", L"h", L"62"}));
  EXPECT_NE(AvatarCacheKey({L"42", L"h", L"61"}), AvatarCacheKey({L"43", L"h", L"61"}));
  EXPECT_EQ(AvatarCacheKey({L"42", L"other", L"61"}), AvatarCacheKey({L"42", L"h", L"61"}));
}

// A member's server picture where the feed names one, else their own.
TEST(MemberAvatarSource, ServerPictureFirst) {
  VoiceUser member;
  member.id = "42";
  member.avatarHash = L"own";
  EXPECT_EQ(AvatarRequestPath(MemberAvatarSource(member)), L"/avatars/42/own.png?size=64");
  member.guildAvatarHash = L"srv";
  EXPECT_EQ(AvatarRequestPath(MemberAvatarSource(member)), L"/avatars/42/own.png?size=64");  // no server known
  member.guildId = L"61";
  EXPECT_EQ(AvatarRequestPath(MemberAvatarSource(member)), L"/guilds/61/users/42/avatars/srv.png?size=64");
}
