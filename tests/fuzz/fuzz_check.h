// Invariant checks for the fuzz targets: a broken rule aborts, so libFuzzer
// keeps the input that broke it as a crash file.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(c) \
  do { if (!(c)) { std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #c); std::abort(); } } while (0)

// Whether part occurs in whole (an extracted value must come from the input).
inline bool IsPartOf(const std::string& part, const std::string& whole) { return whole.find(part) != std::string::npos; }

// The first quoted token of the input: lets the fuzzer pick its own key.
inline std::string FirstQuotedToken(const std::string& text) {
  const size_t open = text.find('"'), close = open == std::string::npos ? open : text.find('"', open + 1);
  return close == std::string::npos ? std::string() : text.substr(open + 1, close - open - 1);
}
