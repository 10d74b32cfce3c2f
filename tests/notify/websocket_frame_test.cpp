#include <gtest/gtest.h>

#include "notify/websocket_frame.h"

namespace {

// The same frame without mask bit and key (a zero key leaves the payload as is).
std::string Unmasked(uint8_t firstByte, const std::string& payload) {
  std::string frame = EncodeWebSocketFrame(kWebSocketOpText, payload, 0);
  frame[0] = static_cast<char>(firstByte);
  frame[1] = static_cast<char>(frame[1] & 0x7F);
  return frame.substr(0, frame.size() - payload.size() - 4) + payload;
}

}  // namespace

// The endpoint cuts its stream by the sizes, so a wrong one loses every frame
// after it; a size of 0 means the header is not complete yet.
TEST(WebSocketFrame, DecodedPayloadAndSize) {
  const std::string p125(125, 'a'), p300(300, 'b'), p70k(70000, 'c');
  const std::string cut = EncodeWebSocketFrame(kWebSocketOpText, p300, 0x01020304);
  const struct { const char* name; std::string frame, decoded; uint64_t size; } cases[] = {
      {"masked 125", EncodeWebSocketFrame(kWebSocketOpText, p125, 0x11223344), p125, 2 + 4 + 125},
      {"masked 16-bit length", cut, p300, 4 + 4 + 300},
      {"masked 64-bit length", EncodeWebSocketFrame(kWebSocketOpText, p70k, 1), p70k, 10 + 4 + 70000},
      {"unmasked", Unmasked(0x81, "plain"), "plain", 2 + 5},
      {"ping", EncodeWebSocketFrame(kWebSocketOpPing, "p", 1), "", 2 + 4 + 1},
      {"close", EncodeWebSocketFrame(kWebSocketOpClose, "", 1), "", 2 + 4},
      {"continuation", Unmasked(0x80, "cont"), "", 2 + 4},
      {"one byte", "\x81", "", 0},
      {"16-bit length cut", cut.substr(0, 3), "", 0},
      {"mask key cut", cut.substr(0, 7), "", 0},
      {"header alone is enough for the size", cut.substr(0, 8), "", 4 + 4 + 300},
      {"payload cut", cut.substr(0, cut.size() - 1), "", 4 + 4 + 300},
      // 2^64-1 declared after a whole header: no wrap-around, no over-read.
      {"huge declared length", std::string("\x81\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10) + "abc", "", UINT64_MAX},
  };
  for (const auto& c : cases) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.frame.data());
    EXPECT_EQ(DecodeWebSocketFrame(bytes, c.frame.size()), c.decoded) << c.name;
    EXPECT_EQ(WebSocketFrameSize(bytes, c.frame.size()), c.size) << c.name;
  }
}
