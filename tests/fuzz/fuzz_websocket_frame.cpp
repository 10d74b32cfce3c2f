// What the WebSocket endpoint receives, the upgrade request and then frames:
// the key comes from its header line unchanged, a refused Origin is one the
// request names, a decoded payload never comes from beyond the received
// bytes, and an encoded frame decodes to its opcode and payload only once it is whole.
#include <cstdint>
#include <string>

#include "notify/websocket_frame.h"
#include "notify/websocket_handshake.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

void CheckRequest(const uint8_t* data, size_t size) {
  const std::string request(reinterpret_cast<const char*>(data), size);
  std::string key, refused;
  if (ExtractWebSocketKey(request, key))
    FUZZ_CHECK(!IsPartOf("\r\n", key) && IsPartOf("Sec-WebSocket-Key: " + key + "\r\n", request));
  if (!IsAllowedWebSocketOrigin(request, refused))
    FUZZ_CHECK(IsPartOf(refused, request) && refused != "https://discord.com");
  const std::string accept = Base64Encode(data, size < 64 ? size : 64);
  FUZZ_CHECK(accept.size() == ((size < 64 ? size : 64) + 2) / 3 * 4);
  FUZZ_CHECK(accept.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") == std::string::npos);
}

void CheckReceived(const uint8_t* data, size_t size) {
  const WebSocketFrame frame = DecodeWebSocketFrame(data, size);
  const uint64_t frameSize = WebSocketFrameSize(data, size);
  FUZZ_CHECK(frame.payload.size() <= size);
  FUZZ_CHECK(frame.whole || frame.payload.empty());
  if (!frame.whole) return;
  FUZZ_CHECK(frame.opcode == (data[0] & 0x0F));
  FUZZ_CHECK(frameSize <= size && frameSize > frame.payload.size());
  const uint64_t header = frameSize - frame.payload.size();  // 2, 4 or 10 bytes, plus 4 for a mask
  FUZZ_CHECK(header == 2 || header == 4 || header == 6 || header == 8 || header == 10 || header == 14);
  const WebSocketFrame alone = DecodeWebSocketFrame(data, static_cast<size_t>(frameSize));
  FUZZ_CHECK(alone.whole && alone.payload == frame.payload);  // what follows plays no part
}

// The input's first bytes choose opcode, mask and a cut; the rest is payload.
void CheckRoundTrip(const uint8_t* data, size_t size) {
  if (size < 7) return;
  const uint8_t opcode = data[0] & 0x0F;
  const uint32_t key = uint32_t(data[1]) << 24 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 8 | data[4];
  const size_t cut = size_t(data[5]) << 8 | data[6];
  const std::string payload(reinterpret_cast<const char*>(data + 7), size - 7);
  const std::string frame = EncodeWebSocketFrame(opcode, payload, key), twoFrames = frame + frame;
  FUZZ_CHECK(WebSocketFrameSize(Bytes(frame), frame.size()) == frame.size());
  for (const std::string& bytes : {frame, twoFrames}) {
    const WebSocketFrame decoded = DecodeWebSocketFrame(Bytes(bytes), bytes.size());
    FUZZ_CHECK(decoded.whole && decoded.opcode == opcode && decoded.payload == payload);
  }
  if (cut < frame.size()) FUZZ_CHECK(!DecodeWebSocketFrame(Bytes(frame), cut).whole);  // short of one byte: nothing
  const std::string sent = EncodeServerWebSocketFrame(opcode, payload);
  FUZZ_CHECK(DecodeWebSocketFrame(Bytes(sent), sent.size()).payload == payload);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // libFuzzer's buffer holds exactly size bytes: ASan sees any read past it.
  CheckRequest(data, size);
  CheckReceived(data, size);
  CheckRoundTrip(data, size);
  return 0;
}
