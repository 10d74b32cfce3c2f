#include "notify/websocket_frame.h"

namespace {

constexpr uint8_t kMaskBit = 0x80;

uint64_t ReadBigEndian(const uint8_t* data, size_t bytes) {
  uint64_t value = 0;
  for (size_t i = 0; i < bytes; ++i) value = (value << 8) | data[i];
  return value;
}

}  // namespace

namespace {

struct FrameHeader {
  uint8_t opcode = 0;
  uint64_t payloadLength = 0;
  size_t size = 0;  // header bytes, masking key included
  const uint8_t* key = nullptr;  // null when unmasked
};

// False while the header has not arrived whole.
bool ReadFrameHeader(const uint8_t* data, size_t size, FrameHeader& header) {
  if (size < 2) return false;
  header.opcode = data[0] & 0x0F;
  header.payloadLength = data[1] & 0x7F;
  header.size = 2;
  if (header.payloadLength == 126 || header.payloadLength == 127) {
    size_t lengthBytes = header.payloadLength == 126 ? 2 : 8;
    if (size < header.size + lengthBytes) return false;
    header.payloadLength = ReadBigEndian(data + header.size, lengthBytes);
    header.size += lengthBytes;
  }
  if (data[1] & kMaskBit) {
    if (size < header.size + 4) return false;
    header.key = data + header.size;
    header.size += 4;
  }
  return true;
}

}  // namespace

WebSocketFrame DecodeWebSocketFrame(const uint8_t* data, size_t size) {
  FrameHeader header;
  // Compared against what is left, so a huge declared length cannot overflow.
  if (!ReadFrameHeader(data, size, header) || header.payloadLength > size - header.size) return {};
  WebSocketFrame frame{true, header.opcode,
                       std::string(reinterpret_cast<const char*>(data + header.size),
                                   static_cast<size_t>(header.payloadLength))};
  if (header.key)
    for (size_t i = 0; i < frame.payload.size(); ++i)
      frame.payload[i] = static_cast<char>(frame.payload[i] ^ header.key[i % 4]);
  return frame;
}

uint64_t WebSocketFrameSize(const uint8_t* data, size_t size) {
  FrameHeader header;
  if (!ReadFrameHeader(data, size, header)) return 0;
  // Saturates instead of wrapping for a declared length near 2^64.
  return header.payloadLength > UINT64_MAX - header.size ? UINT64_MAX : header.size + header.payloadLength;
}

namespace {

std::string EncodeFrame(uint8_t opcode, const std::string& payload, const uint32_t* maskKey) {
  const uint8_t maskBit = maskKey ? kMaskBit : 0;
  std::string frame;
  frame += static_cast<char>(0x80 | (opcode & 0x0F));
  const uint64_t length = payload.size();
  if (length < 126) {
    frame += static_cast<char>(maskBit | length);
  } else {
    const size_t lengthBytes = length <= 0xFFFF ? 2 : 8;
    frame += static_cast<char>(maskBit | (lengthBytes == 2 ? 126 : 127));
    for (size_t i = lengthBytes; i-- > 0;) frame += static_cast<char>((length >> (8 * i)) & 0xFF);
  }
  if (!maskKey) return frame + payload;
  uint8_t key[4];
  for (int i = 0; i < 4; ++i) key[i] = static_cast<uint8_t>(*maskKey >> (24 - 8 * i));
  frame.append(reinterpret_cast<const char*>(key), 4);
  for (size_t i = 0; i < payload.size(); ++i) frame += static_cast<char>(payload[i] ^ key[i % 4]);
  return frame;
}

}  // namespace

std::string EncodeWebSocketFrame(uint8_t opcode, const std::string& payload, uint32_t maskKey) {
  return EncodeFrame(opcode, payload, &maskKey);
}

std::string EncodeServerWebSocketFrame(uint8_t opcode, const std::string& payload) {
  return EncodeFrame(opcode, payload, nullptr);
}
