// Pixel probes on the renderer's frame (premultiplied BGRA, top-down), and
// the source-over arithmetic that predicts what a probe must read.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include "overlay/renderer.h"

struct Pixel {
  int r, g, b, a;  // premultiplied
};

inline Pixel Over(Pixel src, Pixel dst) {
  auto mix = [&](int s, int d) { return s + d * (255 - src.a) / 255; };
  return {mix(src.r, dst.r), mix(src.g, dst.g), mix(src.b, dst.b), mix(src.a, dst.a)};
}

inline Pixel Premul(int alpha, uint32_t rgb) {
  return {static_cast<int>((rgb >> 16) & 255) * alpha / 255, static_cast<int>((rgb >> 8) & 255) * alpha / 255,
          static_cast<int>(rgb & 255) * alpha / 255, alpha};
}

inline Pixel FrameAt(int x, int y) {
  const Renderer& r = GetRenderer();
  const auto* bytes = static_cast<const unsigned char*>(r.framePixels) + (static_cast<size_t>(y) * r.frameWidth + x) * 4;
  return {bytes[2], bytes[1], bytes[0], bytes[3]};
}

inline ::testing::AssertionResult Near(Pixel actual, Pixel expected, int tolerance = 3) {
  if (std::abs(actual.r - expected.r) <= tolerance && std::abs(actual.g - expected.g) <= tolerance &&
      std::abs(actual.b - expected.b) <= tolerance && std::abs(actual.a - expected.a) <= tolerance)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "pixel (r " << actual.r << " g " << actual.g << " b " << actual.b << " a "
                                       << actual.a << ") expected (r " << expected.r << " g " << expected.g << " b "
                                       << expected.b << " a " << expected.a << ")";
}
