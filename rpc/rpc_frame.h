// The Discord IPC frame: an 8-byte little-endian header (opcode, payload
// length) and a UTF-8 JSON payload. Shared by the client and the simulator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum RpcOpcode : uint32_t {
  kOpHandshake = 0,
  kOpFrame = 1,
  kOpClose = 2,
  kOpPing = 3,
  kOpPong = 4,
};

struct RpcFrame {
  uint32_t opcode = 0;
  std::string payload;
};

struct RpcFrameHeader {
  uint32_t opcode = 0;
  uint32_t length = 0;
};

constexpr size_t kRpcFrameHeaderSize = 8;
// Real payloads are a few kilobytes; a larger length means a broken or
// hostile peer, and allocating it could take the process down.
constexpr uint32_t kMaxRpcPayloadBytes = 16u * 1024 * 1024;

// Header and payload as one buffer, ready for a single write.
std::string EncodeRpcFrame(uint32_t opcode, const std::string& payload);
// Reads the first kRpcFrameHeaderSize bytes at header.
RpcFrameHeader DecodeRpcFrameHeader(const char* header);

enum class RpcFrameCut {
  Incomplete,  // the stream holds no whole frame yet
  Frame,       // frame holds the first one, taken off the stream
  TooLarge,    // the declared length is beyond kMaxRpcPayloadBytes
};
// Takes the first whole frame off the front of a received byte stream.
RpcFrameCut CutRpcFrame(std::string& stream, RpcFrame& frame);
