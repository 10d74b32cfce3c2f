// WebSocket frames (RFC 6455) as the notification endpoint reads them: the
// endpoint cuts its byte stream into frames with WebSocketFrameSize and
// decodes each whole frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint8_t kWebSocketOpText = 1;
constexpr uint8_t kWebSocketOpBinary = 2;
constexpr uint8_t kWebSocketOpClose = 8;
constexpr uint8_t kWebSocketOpPing = 9;
constexpr uint8_t kWebSocketOpPong = 10;

struct WebSocketFrame {
  bool whole = false;  // false while the header or the payload has not arrived whole
  uint8_t opcode = 0;
  std::string payload;  // unmasked
};

// The frame at the start of data, whatever its opcode. Bytes after the frame
// are ignored. Never reads past size.
WebSocketFrame DecodeWebSocketFrame(const uint8_t* data, size_t size);

// Bytes of the whole frame (header and payload) that starts at data, whatever
// its opcode, as its header declares it; 0 while the header is incomplete.
uint64_t WebSocketFrameSize(const uint8_t* data, size_t size);

// One unfragmented client frame, masked with maskKey (senders and tests).
std::string EncodeWebSocketFrame(uint8_t opcode, const std::string& payload, uint32_t maskKey);
// One unfragmented server frame: servers send theirs unmasked.
std::string EncodeServerWebSocketFrame(uint8_t opcode, const std::string& payload);
