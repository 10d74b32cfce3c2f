#include <gtest/gtest.h>

#include "notify/websocket_frame.h"

namespace {

std::string Decode(const std::string& bytes) {
  return DecodeWebSocketFrame(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// The same frame without mask bit and key (a zero key leaves the payload as is).
std::string Unmasked(uint8_t firstByte, const std::string& payload) {
  std::string frame = EncodeWebSocketFrame(kWebSocketOpText, payload, 0);
  frame[0] = static_cast<char>(firstByte);
  frame[1] = static_cast<char>(frame[1] & 0x7F);
  return frame.substr(0, frame.size() - payload.size() - 4) + payload;
}

}  // namespace

TEST(DecodeWebSocketFrame, Frames) {
  const std::string p125(125, 'a'), p300(300, 'b'), p70k(70000, 'c');
  const std::string cut = EncodeWebSocketFrame(kWebSocketOpText, p300, 0x01020304);
  const struct {
    const char* name;
    std::string frame;
    std::string expected;
  } cases[] = {
      {"masked 125", EncodeWebSocketFrame(kWebSocketOpText, p125, 0x11223344), p125},
      {"masked 16-bit length", EncodeWebSocketFrame(kWebSocketOpText, p300, 0xA1B2C3D4), p300},
      {"masked 64-bit length", EncodeWebSocketFrame(kWebSocketOpText, p70k, 0x01020304), p70k},
      {"unmasked", Unmasked(0x81, "plain"), "plain"},
      {"binary", EncodeWebSocketFrame(kWebSocketOpBinary, "bin", 0x55555555), "bin"},
      {"first fragment, FIN clear", Unmasked(0x01, "part"), "part"},
      {"two frames in one receive",
       EncodeWebSocketFrame(kWebSocketOpText, "one", 7) + EncodeWebSocketFrame(kWebSocketOpText, "two", 9), "one"},
      {"one byte", "\x81", ""},
      {"ping", EncodeWebSocketFrame(kWebSocketOpPing, "ping", 1), ""},
      {"close", EncodeWebSocketFrame(kWebSocketOpClose, "", 1), ""},
      {"continuation", Unmasked(0x80, "cont"), ""},
      {"16-bit length cut", cut.substr(0, 3), ""},
      {"mask key cut", cut.substr(0, 6), ""},
      {"payload cut", cut.substr(0, cut.size() - 1), ""},
      {"second half of a split frame", cut.substr(100), ""},
      // 2^64-1 declared after a whole header: no wrap-around, no over-read.
      {"huge declared length", std::string("\x81\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10) + "abc", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Decode(c.frame), c.expected) << c.name;
}

// The endpoint cuts its stream by these sizes, so a wrong one loses every
// frame after it.
TEST(WebSocketFrameSize, WholeFramesOfEveryOpcodeAndIncompleteHeaders) {
  const std::string p300(300, 'b');
  const std::string masked300 = EncodeWebSocketFrame(kWebSocketOpText, p300, 0x01020304);
  const struct {
    const char* name;
    std::string bytes;
    uint64_t expected;
  } cases[] = {
      {"masked 125", EncodeWebSocketFrame(kWebSocketOpText, std::string(125, 'a'), 1), 2 + 4 + 125},
      {"masked 16-bit length", masked300, 4 + 4 + 300},
      {"header alone is enough", masked300.substr(0, 8), 4 + 4 + 300},
      {"unmasked", Unmasked(0x81, "plain"), 2 + 5},
      {"ping", EncodeWebSocketFrame(kWebSocketOpPing, "p", 1), 2 + 4 + 1},
      {"close", EncodeWebSocketFrame(kWebSocketOpClose, "", 1), 2 + 4},
      {"64-bit length", EncodeWebSocketFrame(kWebSocketOpText, std::string(70000, 'c'), 1), 10 + 4 + 70000},
      {"one byte", "\x81", 0},
      {"16-bit length cut", masked300.substr(0, 3), 0},
      {"mask key cut", masked300.substr(0, 7), 0},
      {"declared 2^64-1 saturates", std::string("\x81\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10), UINT64_MAX},
  };
  for (const auto& c : cases)
    EXPECT_EQ(WebSocketFrameSize(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()), c.expected)
        << c.name;
}
