#include "rpc/secret_redaction.h"

namespace {

constexpr const char* kSecretKeys[] = {"\"access_token\"", "\"refresh_token\""};
constexpr const char* kRedacted = "[redacted]";
constexpr size_t kShortestSecret = 8;

bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

size_t SkipSpaces(const std::string& text, size_t i) {
  while (i < text.size() && IsJsonSpace(text[i])) ++i;
  return i;
}

// End of the string whose opening quote is at open: the closing quote's
// position, or the text's end when unterminated.
size_t StringEnd(const std::string& text, size_t open) {
  for (size_t i = open + 1; i < text.size(); ++i) {
    if (text[i] == '\\') ++i;
    else if (text[i] == '"') return i;
  }
  return text.size();
}

void RedactKey(std::string& text, const std::string& key) {
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + key.size())) {
    size_t colon = SkipSpaces(text, at + key.size());
    if (colon >= text.size() || text[colon] != ':') continue;
    size_t open = SkipSpaces(text, colon + 1);
    if (open >= text.size() || text[open] != '"') continue;
    size_t end = StringEnd(text, open);
    text.replace(open + 1, end - open - 1, kRedacted);
  }
}

}  // namespace

std::string RedactTokenValues(const std::string& text) {
  std::string result = text;
  for (const char* key : kSecretKeys) RedactKey(result, key);
  return result;
}

std::string RedactSecrets(const std::string& text, const std::vector<std::string>& secrets) {
  std::string result = RedactTokenValues(text);
  for (const std::string& secret : secrets) {
    if (secret.size() < kShortestSecret) continue;
    const std::string redacted = kRedacted;
    for (size_t at = result.find(secret); at != std::string::npos; at = result.find(secret, at + redacted.size()))
      result.replace(at, secret.size(), redacted);
  }
  return result;
}
