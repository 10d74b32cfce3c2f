// User-perceived characters (extended grapheme clusters, close to Unicode's
// UAX #29): a flag, a skin-toned emoji, a ZWJ family, a letter with its
// combining marks and an Indic syllable's vowel signs each count as one, so
// a name limit or an ellipsis never cuts inside one. No platform calls;
// UTF-16 in, unit counts out.
#pragma once

#include <cstddef>
#include <string>

// Units from `from` to the end of the cluster that starts there.
size_t ClusterLength(const std::wstring& text, size_t from);
size_t CountClusters(const std::wstring& text);
// Units of the first maxClusters clusters (all of text when it has fewer).
size_t ClusterPrefix(const std::wstring& text, size_t maxClusters);
// Units of the longest run of whole clusters within maxUnits.
size_t ClusterPrefixWithin(const std::wstring& text, size_t maxUnits);
