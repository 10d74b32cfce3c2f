// The text side of the WebSocket upgrade: reading the client's request and
// writing the answers. The SHA-1 of the accept value is the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// RFC 6455 constant appended to the key before hashing.
extern const char kWebSocketMagic[];
extern const char kWebSocketForbiddenResponse[];
extern const char kWebSocketServerErrorResponse[];

// True once the request's header block has ended (blank line seen).
bool IsHttpRequestComplete(const std::string& received);

// The bytes after "Sec-WebSocket-Key: " (that exact case and spacing, as
// senders are told) up to the next CR LF, untrimmed. False when the header or
// its CR LF is missing.
bool ExtractWebSocketKey(const std::string& request, std::string& key);

// Local tools send no Origin; the Discord client sends its own. Any other
// Origin (a web page in a browser, "null" from a file) is refused. Header
// names match in any case; every Origin header must pass. refusedOrigin gets
// the value that failed.
bool IsAllowedWebSocketOrigin(const std::string& request, std::string& refusedOrigin);

// Standard Base64 with "=" padding.
std::string Base64Encode(const uint8_t* data, size_t size);

// The 101 answer carrying the Base64 of SHA-1(key + magic).
std::string BuildWebSocketAcceptResponse(const std::string& acceptValue);
