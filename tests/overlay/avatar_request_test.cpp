#include "overlay/avatar_request.h"

#include <gtest/gtest.h>

TEST(AvatarRequestPath, CdnPathOnlyFromSafeParts) {
  const std::wstring cases[][3] = {
      {L"80351110224678912", L"a_8342729096ea3675442027381ff50dfe",
       L"/avatars/80351110224678912/a_8342729096ea3675442027381ff50dfe.png?size=64"},
      {L"42", L"", L""},
      {L"", L"abc", L""},
      {L"42", L"../../api/users/@me", L""},
      {L"42", L"abc?size=4096", L""},
      {L"42", L"ab\r\nHost: evil", L""},
      {L"42", L"ab\xFF10", L""},  // a fullwidth digit
      {L"42", std::wstring(65, L'f'), L""},
  };
  for (const auto& c : cases) EXPECT_EQ(AvatarRequestPath(c[0], c[1]), c[2]) << c[1].size();
}
