// Literal scanning of RPC payloads: no JSON tree, only the first occurrence
// of a quoted key or marker. These rules decide which messages are understood.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// Raw text of the value after the first "key": a string's bytes (escapes
// kept), a true/false literal up to the next ',' or '}', or an unsigned
// number. Empty when missing or of another kind (null, object, array, '-').
std::string ExtractJsonValue(const std::string& text, const std::string& key);
// As ExtractJsonValue, but only an occurrence used as a key (a colon follows,
// spaces and tabs allowed) counts: a string value equal to the key, such as a
// channel named "code", is passed over.
std::string ExtractJsonKeyValue(const std::string& text, const std::string& key);

// From the first '{' at or after the first marker (a key with its quotes, such
// as "\"data\"") to its balancing '}'; to the end when unbalanced.
std::string ExtractJsonObject(const std::string& text, const std::string& marker);

// The same with '[' and ']'. markerFound tells a missing marker from a
// missing bracket.
std::string ExtractJsonArray(const std::string& text, const std::string& marker, bool* markerFound = nullptr);

struct JsonObjectSpan {
  std::string object;
  size_t next;  // position just after the closing brace
};
// The next brace-balanced object at or after pos; none when no '{' remains.
std::optional<JsonObjectSpan> NextJsonObject(const std::string& text, size_t pos);

bool ContainsText(const std::string& text, const std::string& fragment);

// Whether the text, outer whitespace aside, starts with '{' and ends with '}':
// every payload Discord sends does. Nothing in between is checked.
bool LooksLikeJsonObject(const std::string& text);
