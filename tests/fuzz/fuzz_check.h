// Invariant checks for the fuzz targets: a broken rule aborts, so libFuzzer
// keeps the input that broke it as a crash file.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition)                                                          \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

// Whether part occurs in whole (an extracted value must come from the input).
inline bool IsPartOf(const std::string& part, const std::string& whole) {
  return whole.find(part) != std::string::npos;
}

// The first quoted token of the input: lets the fuzzer pick its own key.
inline std::string FirstQuotedToken(const std::string& text) {
  size_t open = text.find('"');
  if (open == std::string::npos) return {};
  size_t close = text.find('"', open + 1);
  if (close == std::string::npos) return {};
  return text.substr(open + 1, close - open - 1);
}
