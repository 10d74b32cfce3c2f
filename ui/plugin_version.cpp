#include "ui/plugin_version.h"

#include <algorithm>
#include <vector>

namespace {

constexpr std::string_view kSpace = " \t\r";

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

// Each part 1 to 9 digits, so every part fits an int; nothing otherwise.
std::optional<std::vector<int>> VersionParts(std::string_view version) {
  std::vector<int> parts;
  for (size_t start = 0;;) {
    const size_t dot = version.find('.', start);
    const std::string_view part = version.substr(start, dot == std::string_view::npos ? dot : dot - start);
    if (part.empty() || part.size() > 9 || part.find_first_not_of("0123456789") != std::string_view::npos)
      return std::nullopt;
    parts.push_back(std::stoi(std::string(part)));
    if (dot == std::string_view::npos) return parts;
    start = dot + 1;
  }
}

}  // namespace

std::string PluginVersionOf(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const size_t open = text.find_first_not_of(" \t\r\n");
  if (open == std::string_view::npos || text.substr(open, 3) != "/**") return {};
  const size_t close = text.find("*/", open + 3);
  if (close == std::string_view::npos) return {};
  const std::string_view block = text.substr(open + 3, close - open - 3);
  for (size_t start = 0; start <= block.size();) {
    const size_t end = std::min(block.find('\n', start), block.size());
    std::string_view line = Trim(block.substr(start, end - start));
    if (!line.empty() && line.front() == '*') line = Trim(line.substr(1));
    constexpr std::string_view kTag = "@version";
    if (line.substr(0, kTag.size()) == kTag && line.size() > kTag.size() &&
        kSpace.find(line[kTag.size()]) != std::string_view::npos)
      return std::string(Trim(line.substr(kTag.size())));
    start = end + 1;
  }
  return {};
}

bool IsDottedVersion(std::string_view version) { return VersionParts(version).has_value(); }

std::optional<int> CompareVersions(std::string_view a, std::string_view b) {
  const auto left = VersionParts(a), right = VersionParts(b);
  if (!left || !right) return std::nullopt;
  for (size_t i = 0; i < std::max(left->size(), right->size()); ++i) {
    const int l = i < left->size() ? (*left)[i] : 0, r = i < right->size() ? (*right)[i] : 0;
    if (l != r) return l < r ? -1 : 1;
  }
  return 0;
}
