#include "notify/websocket_frame.h"

namespace {

constexpr uint8_t kMaskBit = 0x80;

uint64_t ReadBigEndian(const uint8_t* data, size_t bytes) {
  uint64_t value = 0;
  for (size_t i = 0; i < bytes; ++i) value = (value << 8) | data[i];
  return value;
}

}  // namespace

std::string DecodeWebSocketFrame(const uint8_t* data, size_t size) {
  if (size < 2) return {};
  uint8_t opcode = data[0] & 0x0F;
  if (opcode != kWebSocketOpText && opcode != kWebSocketOpBinary) return {};

  uint64_t length = data[1] & 0x7F;
  size_t header = 2;
  if (length == 126 || length == 127) {
    size_t lengthBytes = length == 126 ? 2 : 8;
    if (size < header + lengthBytes) return {};
    length = ReadBigEndian(data + header, lengthBytes);
    header += lengthBytes;
  }
  const bool masked = (data[1] & kMaskBit) != 0;
  const uint8_t* key = data + header;
  if (masked) {
    if (size < header + 4) return {};
    header += 4;
  }
  // Compared against what is left, so a huge declared length cannot overflow.
  if (length > size - header) return {};

  std::string payload(reinterpret_cast<const char*>(data + header), static_cast<size_t>(length));
  if (masked)
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(payload[i] ^ key[i % 4]);
  return payload;
}

std::string EncodeWebSocketFrame(uint8_t opcode, const std::string& payload, uint32_t maskKey) {
  std::string frame;
  frame += static_cast<char>(0x80 | (opcode & 0x0F));
  const uint64_t length = payload.size();
  if (length < 126) {
    frame += static_cast<char>(kMaskBit | length);
  } else {
    const size_t lengthBytes = length <= 0xFFFF ? 2 : 8;
    frame += static_cast<char>(kMaskBit | (lengthBytes == 2 ? 126 : 127));
    for (size_t i = lengthBytes; i-- > 0;) frame += static_cast<char>((length >> (8 * i)) & 0xFF);
  }
  uint8_t key[4];
  for (int i = 0; i < 4; ++i) key[i] = static_cast<uint8_t>(maskKey >> (24 - 8 * i));
  frame.append(reinterpret_cast<const char*>(key), 4);
  for (size_t i = 0; i < payload.size(); ++i) frame += static_cast<char>(payload[i] ^ key[i % 4]);
  return frame;
}
