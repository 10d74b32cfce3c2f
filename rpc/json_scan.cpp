#include "rpc/json_scan.h"

namespace {

// From an opening bracket at `open`, the end just past its balancing close
// (or the end of the text).
size_t BalancedEnd(const std::string& text, size_t open, char opener, char closer) {
  int depth = 1;
  size_t i = open + 1;
  while (i < text.size() && depth > 0) {
    if (text[i] == opener) ++depth;
    else if (text[i] == closer) --depth;
    ++i;
  }
  return i;
}

std::string ExtractBalanced(const std::string& text, const std::string& marker, char opener, char closer,
                            bool* markerFound) {
  size_t at = text.find(marker);
  if (markerFound) *markerFound = at != std::string::npos;
  if (at == std::string::npos) return {};
  size_t open = text.find(opener, at);
  if (open == std::string::npos) return {};
  return text.substr(open, BalancedEnd(text, open, opener, closer) - open);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The value whose text begins after the colon at `colon`.
std::string ValueAfterColon(const std::string& text, size_t colon) {
  size_t i = colon + 1;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i >= text.size()) return {};
  char c = text[i];
  size_t j;
  if (c == '"') {
    size_t start = i + 1;
    for (j = start; j < text.size(); ++j) {
      if (text[j] == '"') break;
      if (text[j] == '\\') ++j;
    }
    if (j > text.size()) j = text.size();
    return text.substr(start, j - start);
  }
  if (c == 't' || c == 'f') {
    for (j = i; j < text.size() && text[j] != ',' && text[j] != '}'; ++j) {
    }
    return text.substr(i, j - i);
  }
  if (IsDigit(c)) {
    for (j = i; j < text.size() && (IsDigit(text[j]) || text[j] == '.'); ++j) {
    }
    return text.substr(i, j - i);
  }
  return {};
}

}  // namespace

std::string ExtractJsonValue(const std::string& text, const std::string& key) {
  size_t at = text.find("\"" + key + "\"");
  if (at == std::string::npos) return {};
  size_t colon = text.find(':', at);
  if (colon == std::string::npos) return {};
  return ValueAfterColon(text, colon);
}

std::string ExtractJsonKeyValue(const std::string& text, const std::string& key) {
  const std::string quoted = "\"" + key + "\"";
  for (size_t at = text.find(quoted); at != std::string::npos; at = text.find(quoted, at + 1)) {
    size_t i = at + quoted.size();
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i < text.size() && text[i] == ':') return ValueAfterColon(text, i);
  }
  return {};
}

std::string ExtractJsonObject(const std::string& text, const std::string& marker) {
  return ExtractBalanced(text, marker, '{', '}', nullptr);
}

std::string ExtractJsonArray(const std::string& text, const std::string& marker, bool* markerFound) {
  return ExtractBalanced(text, marker, '[', ']', markerFound);
}

std::optional<JsonObjectSpan> NextJsonObject(const std::string& text, size_t pos) {
  if (pos >= text.size()) return std::nullopt;
  size_t open = text.find('{', pos);
  if (open == std::string::npos) return std::nullopt;
  size_t end = BalancedEnd(text, open, '{', '}');
  return JsonObjectSpan{text.substr(open, end - open), end};
}

bool ContainsText(const std::string& text, const std::string& fragment) {
  return text.find(fragment) != std::string::npos;
}

bool LooksLikeJsonObject(const std::string& text) {
  const char* const whitespace = " \t\r\n";
  size_t first = text.find_first_not_of(whitespace);
  size_t last = text.find_last_not_of(whitespace);
  return first != std::string::npos && text[first] == '{' && text[last] == '}' && first < last;
}
