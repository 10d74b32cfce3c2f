// PNG images made in memory (uncompressed deflate), for loopback CDN tests
// and the simulator's avatars. No platform calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// pixels: width * height values 0xAARRGGBB, row by row from the top.
std::string EncodePng(int width, int height, const std::vector<uint32_t>& pixels);
// One colour everywhere.
std::string MakeSolidPng(int width, int height, uint32_t argb);
