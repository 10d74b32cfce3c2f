#include "notify/notification_parse.h"

#include "app/json.h"
#include "app/text_convert.h"

namespace {

struct FieldKey {
  const char* key;
  std::wstring NotificationData::*field;
};

// In record order, which is also the order in which a sender writes them.
const FieldKey kFieldKeys[] = {
    {"username", &NotificationData::username},
    {"displayName", &NotificationData::displayName},
    {"content", &NotificationData::content},
    {"avatarUrl", &NotificationData::avatarUrl},
    {"channelName", &NotificationData::channelName},
    {"serverName", &NotificationData::serverName},
    {"avatarHash", &NotificationData::avatarHash},
    {"userId", &NotificationData::userId},
};

// Reads the text as a stream of JSON events: a key's first occurrence decides
// its field (a string fills it, anything else leaves it empty), so what comes
// before a syntax error is kept.
class FieldCollector : public nlohmann::json_sax<Json> {
 public:
  explicit FieldCollector(NotificationData& data) : data_(data) {}

  bool key(string_t& name) override {
    pending_ = nullptr;
    for (size_t i = 0; i < std::size(kFieldKeys); ++i) {
      if (name != kFieldKeys[i].key || seen_[i]) continue;
      seen_[i] = true;
      pending_ = &(data_.*kFieldKeys[i].field);
    }
    return true;
  }
  bool string(string_t& value) override {
    if (pending_) *pending_ = Utf8ToWide(value);
    return Value();
  }
  bool null() override { return Value(); }
  bool boolean(bool) override { return Value(); }
  bool number_integer(number_integer_t) override { return Value(); }
  bool number_unsigned(number_unsigned_t) override { return Value(); }
  bool number_float(number_float_t, const string_t&) override { return Value(); }
  bool binary(binary_t&) override { return Value(); }
  bool start_object(std::size_t) override { return Value(); }
  bool end_object() override { return true; }
  bool start_array(std::size_t) override { return Value(); }
  bool end_array() override { return true; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) override {
    problem = JsonErrorText(error);  // the log gets it: no message text
    return false;
  }

  std::string problem;

 private:
  bool Value() {
    pending_ = nullptr;
    return true;
  }

  NotificationData& data_;
  std::wstring* pending_ = nullptr;
  bool seen_[std::size(kFieldKeys)] = {};
};

}  // namespace

NotificationData ParseNotification(const std::string& text, std::string* problem) {
  NotificationData data;
  FieldCollector collector(data);
  const std::string_view bytes(text);  // the same reader as ParseJson's
  Json::sax_parse(bytes.begin(), bytes.end(), &collector);
  if (data.displayName.empty()) data.displayName = data.username;
  if (problem) *problem = collector.problem;
  return data;
}

std::string FormatNotification(const NotificationData& data) {
  Json text = Json::object();
  for (const FieldKey& f : kFieldKeys) text[f.key] = WideToUtf8(data.*f.field);
  return FormatJson(text);
}
