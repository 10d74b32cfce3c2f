// How long to wait before trying again after the failures so far: first,
// doubling each time, never more than most.
#pragma once

#include <algorithm>
#include <cstdint>

inline uint32_t DoublingDelayMs(int failures, uint32_t firstMs, uint32_t mostMs) {
  uint32_t delay = firstMs;
  for (int i = 1; i < failures && delay < mostMs; ++i) delay *= 2;
  return std::min(delay, mostMs);
}
