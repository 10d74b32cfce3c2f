#include "rpc/rpc_messages.h"

namespace {

const Json kNull;

const Json& Data(const Json& message) {
  const Json* data = JsonMember(message, "data");
  return data ? *data : kNull;
}

}  // namespace

std::optional<RpcError> ReadRpcError(const Json& message) {
  if (JsonString(message, "evt") != "ERROR") return std::nullopt;
  const Json& data = Data(message);
  return RpcError{JsonInt(data, "code", 0), JsonString(data, "message")};
}

RpcError ReadCloseReason(const std::string& payload) {
  auto parsed = ParseJson(payload);
  if (!parsed) return {};
  return RpcError{JsonInt(*parsed, "code", 0), JsonString(*parsed, "message")};
}

std::string ReadUserId(const Json& message) {
  const Json* user = JsonMember(Data(message), "user");
  return user ? JsonString(*user, "id") : "";
}

TokenResponse ReadTokenResponse(const std::string& body) {
  auto parsed = ParseJson(body);
  if (!parsed) return {};
  return TokenResponse{JsonString(*parsed, "access_token"), JsonString(*parsed, "error"),
                       JsonString(*parsed, "error_description")};
}
