// Versions of the companion plugin as BetterDiscord reads them: the "@version"
// line of the comment block that opens the file. No platform calls.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The value of "@version" in the file's opening /** ... */ block, trimmed;
// empty when the file opens with no such block or the block has no version.
std::string PluginVersionOf(std::string_view fileText);

// Dotted decimal numbers, the only versions CompareVersions orders.
bool IsDottedVersion(std::string_view version);

// Negative, 0 or positive as a is older than, the same as or newer than b,
// compared number by number (1.10 is newer than 1.9; a missing part counts
// as 0). Nothing when either is not dotted decimal numbers ("1.2.0-beta").
std::optional<int> CompareVersions(std::string_view a, std::string_view b);
