// What the client reads from Discord besides voice data: error answers,
// CLOSE reasons, the user of READY and AUTHENTICATE, and the token
// endpoint's answer. Pure functions of parsed messages or bodies.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/json.h"

struct RpcError {
  int64_t code = 0;
  std::string message;
};
// An answer with evt "ERROR": its data's code and message.
std::optional<RpcError> ReadRpcError(const Json& message);
// A CLOSE frame's payload, {"code":4000,"message":"Invalid Client ID"};
// code 0 and an empty message when it is not of that form.
RpcError ReadCloseReason(const std::string& payload);
// data.user.id of READY and of AUTHENTICATE's answer; empty when absent.
std::string ReadUserId(const Json& message);

struct TokenResponse {
  std::string accessToken;  // empty on failure
  std::string error;
  std::string errorDescription;
};
// The OAuth2 token endpoint's body; a body that is not JSON reads as a
// failure with no error named.
TokenResponse ReadTokenResponse(const std::string& body);
