// The project's one JSON reader and writer: nlohmann/json (third_party/),
// behind helpers that never throw. Everything Voxmere reads or writes as JSON
// (Discord's RPC frames and token answers, notifications, the plugin's
// messages, config.json) goes through here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "third_party/nlohmann/json.hpp"

using Json = nlohmann::json;

// The parsed text, or nothing with the parser's reason (byte offset and what
// it found there, JsonErrorText) in *error. Strings must be valid UTF-8;
// escapes, surrogate pairs included, are decoded.
std::optional<Json> ParseJson(std::string_view text, std::string* error = nullptr);
// A parse error as debug.log may show it: the library's description less
// its quote of the text it read last, which may be a message or a secret.
std::string JsonErrorText(const std::exception& error);
// The one value at the start of text (after white space); what follows it is
// not read. For picking what can be read out of a damaged text.
std::optional<Json> ParseJsonPrefix(std::string_view text);

// Compact text, or indented by `indent` spaces per level when it is 0 or more.
// Bytes that are not UTF-8 inside strings become U+FFFD instead of failing.
std::string FormatJson(const Json& value, int indent = -1);

// A member of an object; null when the value is no object or lacks the key.
const Json* JsonMember(const Json& object, std::string_view key);

// Typed members with a fallback for a missing key, null or another type.
std::string JsonString(const Json& object, std::string_view key, std::string_view fallback = {});
// Integers only (a fraction or a value beyond int64 gives the fallback).
int64_t JsonInt(const Json& object, std::string_view key, int64_t fallback);
bool JsonBool(const Json& object, std::string_view key, bool fallback);
