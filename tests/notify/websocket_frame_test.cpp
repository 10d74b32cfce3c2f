#include <gtest/gtest.h>

#include "notify/websocket_frame.h"

namespace {

std::string Decode(const std::string& bytes) {
  return DecodeWebSocketFrame(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string Unmasked(uint8_t opcode, const std::string& payload) {
  std::string frame = EncodeWebSocketFrame(opcode, payload, 0);
  // A zero key leaves the payload as is; drop the key and the mask bit.
  size_t header = frame.size() - payload.size() - 4;
  frame[1] = static_cast<char>(frame[1] & 0x7F);
  return frame.substr(0, header) + payload;
}

}  // namespace

TEST(DecodeWebSocketFrame, AcceptedFrames) {
  const std::string p125(125, 'a');
  const std::string p300(300, 'b');
  const std::string p70k(70000, 'c');
  struct Case {
    const char* name;
    std::string frame;
    std::string expected;
  };
  const Case cases[] = {
      {"masked 125", EncodeWebSocketFrame(kWebSocketOpText, p125, 0x11223344), p125},
      {"masked 16-bit length", EncodeWebSocketFrame(kWebSocketOpText, p300, 0xA1B2C3D4), p300},
      {"masked 64-bit length", EncodeWebSocketFrame(kWebSocketOpText, p70k, 0x01020304), p70k},
      {"unmasked", Unmasked(kWebSocketOpText, "plain"), "plain"},
      {"binary", EncodeWebSocketFrame(kWebSocketOpBinary, "bin", 0x55555555), "bin"},
      // FIN clear: a first fragment is taken as the whole message.
      {"first fragment", std::string("\x01", 1) + Unmasked(kWebSocketOpText, "part").substr(1), "part"},
      {"two frames in one receive",
       EncodeWebSocketFrame(kWebSocketOpText, "one", 7) + EncodeWebSocketFrame(kWebSocketOpText, "two", 9), "one"},
  };
  for (const Case& c : cases) EXPECT_EQ(Decode(c.frame), c.expected) << c.name;
}

TEST(DecodeWebSocketFrame, RejectedFrames) {
  const std::string whole = EncodeWebSocketFrame(kWebSocketOpText, std::string(300, 'x'), 0x01020304);
  struct Case {
    const char* name;
    std::string frame;
  };
  const Case cases[] = {
      {"empty", ""},
      {"one byte", "\x81"},
      {"ping", EncodeWebSocketFrame(kWebSocketOpPing, "ping", 1)},
      {"close", EncodeWebSocketFrame(kWebSocketOpClose, "", 1)},
      {"continuation", std::string("\x80", 1) + Unmasked(kWebSocketOpText, "cont").substr(1)},
      {"16-bit length cut", whole.substr(0, 3)},
      {"64-bit length cut", std::string("\x81\xFF\x00\x00", 4)},
      {"mask key cut", whole.substr(0, 6)},
      {"payload cut", whole.substr(0, whole.size() - 1)},
      // Declared 2^64-1 bytes after a full header: must not wrap or over-read.
      {"huge declared length", std::string("\x81\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10) + "abc"},
      {"declared beyond received", std::string("\x81\x05" "ab", 4)},
  };
  for (const Case& c : cases) EXPECT_EQ(Decode(c.frame), "") << c.name;
}

TEST(DecodeWebSocketFrame, SplitFrameSecondPartStartsAfresh) {
  const std::string frame = EncodeWebSocketFrame(kWebSocketOpText, std::string(200, 'y'), 0x0A0B0C0D);
  EXPECT_EQ(Decode(frame.substr(0, 100)), "");
  EXPECT_EQ(Decode(frame.substr(100)), "");
}
