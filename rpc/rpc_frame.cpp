#include "rpc/rpc_frame.h"

namespace {

void AppendLe32(std::string& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

uint32_t ReadLe32(const char* bytes) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

}  // namespace

std::string EncodeRpcFrame(uint32_t opcode, const std::string& payload) {
  std::string buffer;
  buffer.reserve(kRpcFrameHeaderSize + payload.size());
  AppendLe32(buffer, opcode);
  AppendLe32(buffer, static_cast<uint32_t>(payload.size()));
  buffer += payload;
  return buffer;
}

RpcFrameHeader DecodeRpcFrameHeader(const char* header) {
  RpcFrameHeader decoded;
  decoded.opcode = ReadLe32(header);
  decoded.length = ReadLe32(header + 4);
  return decoded;
}

RpcFrameCut CutRpcFrame(std::string& stream, RpcFrame& frame) {
  if (stream.size() < kRpcFrameHeaderSize) return RpcFrameCut::Incomplete;
  RpcFrameHeader header = DecodeRpcFrameHeader(stream.data());
  if (header.length > kMaxRpcPayloadBytes) return RpcFrameCut::TooLarge;
  if (stream.size() - kRpcFrameHeaderSize < header.length) return RpcFrameCut::Incomplete;
  frame.opcode = header.opcode;
  frame.payload = stream.substr(kRpcFrameHeaderSize, header.length);
  stream.erase(0, kRpcFrameHeaderSize + header.length);
  return RpcFrameCut::Frame;
}
