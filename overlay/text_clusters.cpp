#include "overlay/text_clusters.h"

#include <cstdint>

namespace {

struct Range {
  uint32_t first;
  uint32_t last;
};

bool InRanges(uint32_t c, const Range* ranges, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (c >= ranges[i].first && c <= ranges[i].last) return true;
  return false;
}

// Marks that attach to what precedes them: combining marks of the common
// scripts, joiners, variation selectors, emoji skin tones and tag letters.
const Range kExtend[] = {
    {0x0300, 0x036F},   {0x0483, 0x0489},   {0x0591, 0x05BD},   {0x05BF, 0x05BF},   {0x05C1, 0x05C2},
    {0x05C4, 0x05C5},   {0x05C7, 0x05C7},   {0x0610, 0x061A},   {0x064B, 0x065F},   {0x0670, 0x0670},
    {0x06D6, 0x06DC},   {0x06DF, 0x06E4},   {0x06E7, 0x06E8},   {0x06EA, 0x06ED},   {0x0711, 0x0711},
    {0x0730, 0x074A},   {0x07A6, 0x07B0},   {0x08D3, 0x08E1},   {0x08E3, 0x08FF},   {0x0E31, 0x0E31},
    {0x0E33, 0x0E3A},   {0x0E47, 0x0E4E},   {0x0EB1, 0x0EB1},   {0x0EB3, 0x0EBC},   {0x0EC8, 0x0ECD},
    {0x0F71, 0x0F84},   {0x102B, 0x103E},   {0x17B4, 0x17D3},   {0x1AB0, 0x1AFF},   {0x1DC0, 0x1DFF},
    {0x200C, 0x200D},   {0x20D0, 0x20FF},   {0x302A, 0x302F},   {0x3099, 0x309A},   {0xFE00, 0xFE0F},
    {0xFE20, 0xFE2F},   {0xFF9E, 0xFF9F},   {0x1F3FB, 0x1F3FF}, {0xE0020, 0xE007F}, {0xE0100, 0xE01EF},
};

// The Brahmic blocks (Devanagari to Sinhala) share one layout: signs before
// the letters, vowel signs and virama in the middle, a few after.
bool IsIndicMark(uint32_t c) {
  if (c < 0x0900 || c >= 0x0E00) return false;
  uint32_t o = c & 0x7F;
  return o <= 0x03 || (o >= 0x3A && o <= 0x4F && o != 0x3D) || (o >= 0x51 && o <= 0x57) || o == 0x62 || o == 0x63;
}

bool IsExtend(uint32_t c) { return IsIndicMark(c) || InRanges(c, kExtend, sizeof kExtend / sizeof kExtend[0]); }

bool IsRegionalIndicator(uint32_t c) { return c >= 0x1F1E6 && c <= 0x1F1FF; }

const Range kPictographic[] = {
    {0x00A9, 0x00A9}, {0x00AE, 0x00AE}, {0x203C, 0x203C}, {0x2049, 0x2049}, {0x2122, 0x2122},
    {0x2139, 0x2139}, {0x2194, 0x21AA}, {0x2300, 0x23FF}, {0x24C2, 0x24C2}, {0x25AA, 0x25FE},
    {0x2600, 0x27BF}, {0x2934, 0x2935}, {0x2B05, 0x2B55}, {0x3030, 0x3030}, {0x303D, 0x303D},
    {0x3297, 0x3299}, {0x1F000, 0x1FAFF},
};

bool IsPictographic(uint32_t c) { return InRanges(c, kPictographic, sizeof kPictographic / sizeof kPictographic[0]); }

constexpr uint32_t kZwj = 0x200D;

bool IsHigh(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The code point at i and its length in units; a lone surrogate stands alone.
uint32_t CodePointAt(const std::wstring& text, size_t i, size_t& units) {
  uint32_t u = static_cast<uint32_t>(text[i]) & 0xFFFF;
  units = 1;
  if (IsHigh(u) && i + 1 < text.size()) {
    uint32_t low = static_cast<uint32_t>(text[i + 1]) & 0xFFFF;
    if (IsLow(low)) {
      units = 2;
      return 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
    }
  }
  return u;
}

}  // namespace

size_t ClusterLength(const std::wstring& text, size_t from) {
  if (from >= text.size()) return 0;
  size_t units = 0;
  uint32_t first = CodePointAt(text, from, units);
  size_t end = from + units;
  if (first == L'\r' && end < text.size() && text[end] == L'\n') return 2;
  if (first == L'\r' || first == L'\n') return units;
  bool pictographic = IsPictographic(first);
  if (IsRegionalIndicator(first) && end < text.size()) {
    size_t next = 0;
    if (IsRegionalIndicator(CodePointAt(text, end, next))) end += next;  // a flag is a pair
  }
  uint32_t previous = first;
  while (end < text.size()) {
    size_t next = 0;
    uint32_t c = CodePointAt(text, end, next);
    // An emoji joined by ZWJ to another emoji continues the sequence.
    bool joined = previous == kZwj && pictographic && IsPictographic(c);
    if (!IsExtend(c) && !joined) break;
    end += next;
    previous = c;
  }
  return end - from;
}

size_t CountClusters(const std::wstring& text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); i += ClusterLength(text, i)) ++count;
  return count;
}

size_t ClusterPrefix(const std::wstring& text, size_t maxClusters) {
  size_t end = 0;
  for (size_t n = 0; n < maxClusters && end < text.size(); ++n) end += ClusterLength(text, end);
  return end;
}

size_t ClusterPrefixWithin(const std::wstring& text, size_t maxUnits) {
  size_t end = 0;
  while (end < text.size()) {
    size_t next = end + ClusterLength(text, end);
    if (next > maxUnits) break;
    end = next;
  }
  return end;
}
