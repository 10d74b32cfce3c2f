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
// after it; a size of 0 means the header is not complete yet. Control frames
// decode too: the endpoint answers Ping and Close.
TEST(WebSocketFrame, DecodedFrameAndSize) {
  const std::string p125(125, 'a'), p300(300, 'b'), p70k(70000, 'c');
  const std::string cut = EncodeWebSocketFrame(kWebSocketOpText, p300, 0x01020304);
  const struct { const char* name; std::string frame; int opcode; std::string payload; uint64_t size; } cases[] = {
      {"masked 125", EncodeWebSocketFrame(kWebSocketOpText, p125, 0x11223344), 1, p125, 2 + 4 + 125},
      {"masked 16-bit length", cut, 1, p300, 4 + 4 + 300},
      {"masked 64-bit length", EncodeWebSocketFrame(kWebSocketOpBinary, p70k, 1), 2, p70k, 10 + 4 + 70000},
      {"unmasked", Unmasked(0x81, "plain"), 1, "plain", 2 + 5},
      {"server's own", EncodeServerWebSocketFrame(kWebSocketOpPong, "p"), 10, "p", 2 + 1},
      {"ping", EncodeWebSocketFrame(kWebSocketOpPing, "p", 1), 9, "p", 2 + 4 + 1},
      {"close with a code", EncodeWebSocketFrame(kWebSocketOpClose, "\x03\xE8", 1), 8, "\x03\xE8", 2 + 4 + 2},
      {"continuation", Unmasked(0x80, "cont"), 0, "cont", 2 + 4},
      {"one byte", "\x81", -1, "", 0},
      {"16-bit length cut", cut.substr(0, 3), -1, "", 0},
      {"mask key cut", cut.substr(0, 7), -1, "", 0},
      {"header alone is enough for the size", cut.substr(0, 8), -1, "", 4 + 4 + 300},
      {"payload cut", cut.substr(0, cut.size() - 1), -1, "", 4 + 4 + 300},
      // 2^64-1 declared after a whole header: no wrap-around, no over-read.
      {"huge declared length", std::string("\x81\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10) + "abc", -1, "", UINT64_MAX},
  };
  for (const auto& c : cases) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.frame.data());
    const WebSocketFrame frame = DecodeWebSocketFrame(bytes, c.frame.size());
    EXPECT_EQ(frame.whole ? frame.opcode : -1, c.opcode) << c.name;
    EXPECT_EQ(frame.payload, c.payload) << c.name;
    EXPECT_EQ(WebSocketFrameSize(bytes, c.frame.size()), c.size) << c.name;
  }
}
