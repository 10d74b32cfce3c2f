// WebSocket frames as the endpoint receives them: a decoded payload never
// comes from beyond the received bytes, the frame size agrees with it, and
// an encoded frame decodes to its payload only once it has arrived whole.
#include <cstddef>
#include <cstdint>
#include <string>

#include "notify/websocket_frame.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

void CheckReceived(const uint8_t* data, size_t size) {
  std::string payload = DecodeWebSocketFrame(data, size);
  uint64_t frameSize = WebSocketFrameSize(data, size);
  FUZZ_CHECK(payload.size() <= size);
  if (payload.empty()) return;
  uint8_t opcode = data[0] & 0x0F;
  FUZZ_CHECK(opcode == kWebSocketOpText || opcode == kWebSocketOpBinary);
  FUZZ_CHECK(frameSize <= size && frameSize > payload.size());
  // The header is 2, 4 or 10 bytes, plus 4 for a mask.
  uint64_t header = frameSize - payload.size();
  FUZZ_CHECK(header == 2 || header == 4 || header == 6 || header == 8 || header == 10 || header == 14);
  // What follows the frame plays no part.
  FUZZ_CHECK(DecodeWebSocketFrame(data, static_cast<size_t>(frameSize)) == payload);
}

// The input's first bytes choose opcode, mask and a cut; the rest is payload.
void CheckRoundTrip(const uint8_t* data, size_t size) {
  if (size < 7) return;
  uint8_t opcode = data[0] & 0x0F;
  uint32_t key = static_cast<uint32_t>(data[1]) << 24 | static_cast<uint32_t>(data[2]) << 16 |
                 static_cast<uint32_t>(data[3]) << 8 | data[4];
  size_t cut = static_cast<size_t>(data[5]) << 8 | data[6];
  const std::string payload(reinterpret_cast<const char*>(data + 7), size - 7);
  const std::string frame = EncodeWebSocketFrame(opcode, payload, key);
  FUZZ_CHECK(WebSocketFrameSize(Bytes(frame), frame.size()) == frame.size());
  bool carried = opcode == kWebSocketOpText || opcode == kWebSocketOpBinary;
  FUZZ_CHECK(DecodeWebSocketFrame(Bytes(frame), frame.size()) == (carried ? payload : std::string()));
  std::string twoFrames = frame + frame;
  FUZZ_CHECK(DecodeWebSocketFrame(Bytes(twoFrames), twoFrames.size()) == (carried ? payload : std::string()));
  // A frame short of even one byte gives nothing.
  if (cut < frame.size()) FUZZ_CHECK(DecodeWebSocketFrame(Bytes(frame), cut).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // libFuzzer's buffer holds exactly size bytes: ASan sees any read past it.
  CheckReceived(data, size);
  CheckRoundTrip(data, size);
  return 0;
}
