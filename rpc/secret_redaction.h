// Keeps OAuth2 tokens and the client secret out of debug.log: every line the
// RPC client logs passes through here.
#pragma once

#include <string>
#include <vector>

// Every string value of an "access_token" or "refresh_token" key replaced by
// "[redacted]"; everything else unchanged. A value cut off by an excerpt's
// end is redacted to the end.
std::string RedactTokenValues(const std::string& text);
// Besides that, every occurrence of a known secret (the token in use, the
// client secret) replaced, wherever it stands (Discord quotes a refused
// token in its error message). Secrets shorter than 8 bytes are too short to
// tell from ordinary text and are left alone.
std::string RedactSecrets(const std::string& text, const std::vector<std::string>& secrets);
