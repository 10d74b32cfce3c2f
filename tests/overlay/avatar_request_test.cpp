#include "overlay/avatar_request.h"

#include <gtest/gtest.h>

TEST(AvatarRequestPath, BuildsCdnPathOrRefusesUnsafeParts) {
  struct Case {
    std::wstring id;
    std::wstring hash;
    std::wstring path;  // empty: no request
  };
  const Case cases[] = {
      {L"80351110224678912", L"8342729096ea3675442027381ff50dfe",
       L"/avatars/80351110224678912/8342729096ea3675442027381ff50dfe.png?size=64"},
      {L"42", L"a_1269e74af4df7417b13759eae50c83dc", L"/avatars/42/a_1269e74af4df7417b13759eae50c83dc.png?size=64"},
      {L"42", L"", L""},
      {L"", L"abc", L""},
      {L"42", L"../../api/users/@me", L""},
      {L"42", L"abc?size=4096", L""},
      {L"4 2", L"abc", L""},
      {L"42", L"ab\r\nHost: evil", L""},
      {L"42", L"ab\xFF10", L""},  // fullwidth digit
      {L"1", std::wstring(64, L'f'), L"/avatars/1/" + std::wstring(64, L'f') + L".png?size=64"},
      {L"1", std::wstring(65, L'f'), L""},
  };
  for (const Case& c : cases) EXPECT_EQ(AvatarRequestPath(c.id, c.hash), c.path) << c.hash.size();
}

TEST(AvatarRetryDelay, DoublesFromTwoSecondsUpToFiveMinutes) {
  const std::pair<int, uint32_t> cases[] = {{1, 2000},   {2, 4000},   {3, 8000},        {8, 256000},
                                            {9, 300000}, {50, 300000}, {1 << 30, 300000}};
  for (const auto& c : cases) EXPECT_EQ(AvatarRetryDelayMs(c.first), c.second) << c.first;
}
