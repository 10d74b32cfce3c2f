#include <gtest/gtest.h>

#include "rpc/rpc_frame.h"
#include "rpc/secret_redaction.h"

TEST(RpcFrame, HeaderIsLittleEndianOpcodeThenLength) {
  std::string frame = EncodeRpcFrame(kOpPing, "abcdefg");
  ASSERT_EQ(frame.size(), kRpcFrameHeaderSize + 7);
  EXPECT_EQ(frame.substr(0, 8), std::string("\x03\0\0\0\x07\0\0\0", 8));
  EXPECT_EQ(frame.substr(8), "abcdefg");
}

TEST(RpcFrame, DecodeReadsBothFieldsWithHighBytes) {
  const char header[8] = {'\x01', '\x00', '\x00', '\x80', '\xff', '\xff', '\xff', '\xff'};
  RpcFrameHeader decoded = DecodeRpcFrameHeader(header);
  EXPECT_EQ(decoded.opcode, 0x80000001u);
  EXPECT_EQ(decoded.length, 0xFFFFFFFFu);
  EXPECT_GT(decoded.length, kMaxRpcPayloadBytes);
}

TEST(RpcFrame, RoundTripKeepsEmptyAndBinaryPayloads) {
  for (const std::string& payload : {std::string(), std::string("\0\x01{}", 4), std::string(70000, 'x')}) {
    std::string frame = EncodeRpcFrame(kOpFrame, payload);
    RpcFrameHeader decoded = DecodeRpcFrameHeader(frame.data());
    EXPECT_EQ(decoded.opcode, static_cast<uint32_t>(kOpFrame));
    EXPECT_EQ(decoded.length, payload.size());
    EXPECT_EQ(frame.substr(kRpcFrameHeaderSize), payload);
  }
}

TEST(RedactTokenValues, HidesTokensKeepsTheRest) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {R"({"token_type":"Bearer","access_token":"abcDEF123","expires_in":604800,"refresh_token":"ghiJKL","scope":"rpc"})",
       R"({"token_type":"Bearer","access_token":"[redacted]","expires_in":604800,"refresh_token":"[redacted]","scope":"rpc"})"},
      // Discord's API writes a space after the colon.
      {R"({"access_token": "abc", "x": 1})", R"({"access_token": "[redacted]", "x": 1})"},
      // An excerpt that ends inside the value.
      {R"({"token_type":"Bearer","access_token":"abcDEF)", R"({"token_type":"Bearer","access_token":"[redacted])"},
      {R"({"access_token":"a\"b","n":1})", R"({"access_token":"[redacted]","n":1})"},
      {R"({"access_token":null})", R"({"access_token":null})"},
      {R"({"error":"invalid_grant","error_description":"Invalid \"code\" in request."})",
       R"({"error":"invalid_grant","error_description":"Invalid \"code\" in request."})"},
      {R"(["access_token","x"])", R"(["access_token","x"])"},
      {R"({"a":{"access_token":"1"},"b":{"access_token":"2"}})",
       R"({"a":{"access_token":"[redacted]"},"b":{"access_token":"[redacted]"}})"},
      {"<html>502 Bad Gateway</html>", "<html>502 Bad Gateway</html>"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(RedactTokenValues(c.text), c.expected) << c.text;
}
