// The upgrade request as the WebSocket endpoint receives it: the key comes
// from its header line unchanged, a refused Origin is one the request names,
// and the accept value's Base64 decodes back to the digest bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "notify/websocket_handshake.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

int Base64Digit(char c) {
  static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t at = kAlphabet.find(c);
  return at == std::string::npos ? -1 : static_cast<int>(at);
}

// Strict decoder for the encoder's own output: false on anything else.
bool Base64Decode(const std::string& text, std::string& out) {
  if (text.size() % 4 != 0) return false;
  out.clear();
  for (size_t i = 0; i < text.size(); i += 4) {
    bool last = i + 4 == text.size();
    int pad = (text[i + 3] == '=') + (text[i + 2] == '=');
    if ((pad && !last) || (text[i + 2] == '=' && text[i + 3] != '=')) return false;
    uint32_t group = 0;
    for (int k = 0; k < 4; ++k) {
      int digit = k >= 4 - pad ? 0 : Base64Digit(text[i + k]);
      if (digit < 0) return false;
      group = group << 6 | static_cast<uint32_t>(digit);
    }
    out += static_cast<char>(group >> 16);
    if (pad < 2) out += static_cast<char>(group >> 8 & 0xFF);
    if (pad < 1) out += static_cast<char>(group & 0xFF);
  }
  return true;
}

void CheckKey(const std::string& request) {
  std::string key;
  if (!ExtractWebSocketKey(request, key)) return;
  FUZZ_CHECK(key.find("\r\n") == std::string::npos);
  FUZZ_CHECK(IsPartOf("Sec-WebSocket-Key: " + key + "\r\n", request));
}

void CheckOrigin(const std::string& request) {
  std::string refused = "(none)";
  if (IsAllowedWebSocketOrigin(request, refused)) {
    FUZZ_CHECK(refused == "(none)");
    return;
  }
  FUZZ_CHECK(IsPartOf(refused, request));
  FUZZ_CHECK(refused != "https://discord.com" && refused != "https://ptb.discord.com" &&
             refused != "https://canary.discord.com");
}

void CheckAccept(const uint8_t* data, size_t size) {
  std::string encoded = Base64Encode(data, size);
  FUZZ_CHECK(encoded.size() == (size + 2) / 3 * 4);
  std::string decoded;
  FUZZ_CHECK(Base64Decode(encoded, decoded));
  FUZZ_CHECK(decoded == std::string(reinterpret_cast<const char*>(data), size));
  std::string response = BuildWebSocketAcceptResponse(encoded);
  FUZZ_CHECK(IsHttpRequestComplete(response) && IsPartOf("Sec-WebSocket-Accept: " + encoded + "\r\n", response));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string request(reinterpret_cast<const char*>(data), size);
  CheckKey(request);
  CheckOrigin(request);
  // The digest is 20 bytes; any length exercises the padding.
  CheckAccept(data, size < 64 ? size : 64);
  return 0;
}
