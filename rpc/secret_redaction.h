// Keeps OAuth2 tokens out of debug.log: excerpts of token responses and RPC
// payloads pass through here before they are logged.
#pragma once

#include <string>

// Every string value of an "access_token" or "refresh_token" key replaced by
// "[redacted]"; everything else unchanged. A value cut off by an excerpt's
// end is redacted to the end.
std::string RedactTokenValues(const std::string& text);
