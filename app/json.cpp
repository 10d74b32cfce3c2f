#include "app/json.h"

std::optional<Json> ParseJson(std::string_view text, std::string* error) {
  // The library reports a parse error by exception; it stops here.
  try {
    return Json::parse(text.begin(), text.end());
  } catch (const Json::exception& failure) {
    if (error) *error = JsonErrorText(failure);
    return std::nullopt;
  }
}

std::string JsonErrorText(const std::exception& error) {
  const std::string what = error.what();
  return what.substr(0, what.find("; last read"));
}

std::optional<Json> ParseJsonPrefix(std::string_view text) {
  // A parse that is not strict stops after one value instead of asking for
  // the end; the library's own tree builder, as its parse uses, not a stream
  // (a stream would link in the whole locale machinery).
  Json value;
  nlohmann::detail::json_sax_dom_parser<Json> builder(value, false);
  if (!Json::sax_parse(text.begin(), text.end(), &builder, nlohmann::detail::input_format_t::json, false)) return std::nullopt;
  return value;
}

std::string FormatJson(const Json& value, int indent) {
  return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

const Json* JsonMember(const Json& object, std::string_view key) {
  if (!object.is_object()) return nullptr;
  auto found = object.find(key);
  return found == object.end() ? nullptr : &*found;
}

std::string JsonString(const Json& object, std::string_view key, std::string_view fallback) {
  const Json* member = JsonMember(object, key);
  if (!member || !member->is_string()) return std::string(fallback);
  return member->get_ref<const std::string&>();
}

int64_t JsonInt(const Json& object, std::string_view key, int64_t fallback) {
  const Json* member = JsonMember(object, key);
  if (!member) return fallback;
  if (member->is_number_unsigned()) {
    uint64_t value = member->get<uint64_t>();
    return value > static_cast<uint64_t>(INT64_MAX) ? fallback : static_cast<int64_t>(value);
  }
  return member->is_number_integer() ? member->get<int64_t>() : fallback;
}

bool JsonBool(const Json& object, std::string_view key, bool fallback) {
  const Json* member = JsonMember(object, key);
  return member && member->is_boolean() ? member->get<bool>() : fallback;
}
