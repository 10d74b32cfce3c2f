#include "notify/voice_feed.h"

#include "app/text_convert.h"

namespace {

// Reads the members of one object, noting the first fault: each Take* leaves
// its target untouched when the member is missing and allowed to be.
class FieldReader {
 public:
  FieldReader(const Json& object, std::string where) : object_(object), where_(std::move(where)) {}

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  void Fail(const std::string& what) {
    if (error_.empty()) error_ = where_ + what;
  }

  // A string of at most kMaxFeedFieldBytes without NUL; null only where
  // allowed (then empty). Ids stay UTF-8; names and hashes go wide.
  void TakeText(const char* key, std::string& target, bool required, bool nullable) {
    const Json* member = JsonMember(object_, key);
    if (!member) {
      if (required) Fail(std::string("\"") + key + "\" missing");
      return;
    }
    if (member->is_null() && nullable) return;
    if (!member->is_string()) return Fail(std::string("\"") + key + "\" is not a string");
    const std::string& bytes = member->get_ref<const std::string&>();
    if (bytes.size() > kMaxFeedFieldBytes) return Fail(std::string("\"") + key + "\" too long");
    if (bytes.find('\0') != std::string::npos) return Fail(std::string("\"") + key + "\" holds NUL");
    if (required && bytes.empty()) return Fail(std::string("\"") + key + "\" empty");
    target = bytes;
  }
  void TakeText(const char* key, std::wstring& target, bool required, bool nullable) {
    std::string bytes;
    const bool present = JsonMember(object_, key) != nullptr;
    TakeText(key, bytes, required, nullable);
    if (present && ok()) target = Utf8ToWide(bytes);
  }

  void TakeFlag(const char* key, bool& target) {
    const Json* member = JsonMember(object_, key);
    if (!member) return;
    if (!member->is_boolean()) return Fail(std::string("\"") + key + "\" is not true or false");
    target = member->get<bool>();
  }

  void TakeCount(const char* key, int64_t& target, int64_t least, int64_t most) {
    const Json* member = JsonMember(object_, key);
    if (!member) return Fail(std::string("\"") + key + "\" missing");
    const int64_t value = JsonInt(object_, key, least - 1);
    if (value < least || value > most) return Fail(std::string("\"") + key + "\" out of range");
    target = value;
  }

 private:
  const Json& object_;
  std::string where_;
  std::string error_;
};

std::optional<FeedMember> ReadMember(const Json& object, size_t index, std::string* error) {
  FieldReader r(object, "member " + std::to_string(index) + ": ");
  if (!object.is_object()) r.Fail("not an object");
  FeedMember member;
  VoiceUser& user = member.user;
  r.TakeText("id", user.id, true, false);
  r.TakeText("name", user.displayName, false, false);
  r.TakeText("avatar", user.avatarHash, false, true);
  r.TakeText("guild_avatar", member.guildAvatarHash, false, true);
  r.TakeFlag("bot", user.bot);
  r.TakeFlag("mute", user.muted);
  r.TakeFlag("deaf", user.deafened);
  r.TakeFlag("speaking", user.speaking);
  r.TakeFlag("local_mute", user.localMute);
  r.TakeFlag("live", user.live);
  r.TakeFlag("video", user.video);
  if (!r.ok()) {
    *error = r.error();
    return std::nullopt;
  }
  user.username = user.displayName;
  return member;
}

std::optional<FeedChannel> ReadChannel(const Json& object, std::string* error) {
  FieldReader r(object, "channel: ");
  if (!object.is_object()) r.Fail("not an object or null");
  FeedChannel channel;
  r.TakeText("id", channel.id, true, false);
  r.TakeText("guild_id", channel.guildId, false, true);
  r.TakeText("name", channel.name, false, false);
  if (JsonMember(object, "type")) r.TakeCount("type", channel.type, 0, INT32_MAX);
  if (!r.ok()) {
    *error = r.error();
    return std::nullopt;
  }
  return channel;
}

std::optional<FeedMessage> ReadListPart(const Json& message, std::string* error) {
  FeedMessage read;
  read.kind = FeedMessage::Kind::ListPart;
  FeedList& list = read.list;
  FieldReader r(message, "voice list: ");
  r.TakeCount("seq", list.seq, 0, INT64_MAX);
  r.TakeCount("parts", list.parts, 1, kMaxFeedParts);
  r.TakeCount("part", list.part, 0, list.parts - 1);
  r.TakeText("self_id", list.selfId, false, true);
  const Json* channel = JsonMember(message, "channel");
  const Json* members = JsonMember(message, "members");
  if (!channel) r.Fail("\"channel\" missing");
  if (!members || !members->is_array()) r.Fail("\"members\" is not an array");
  if (!r.ok()) {
    *error = r.error();
    return std::nullopt;
  }
  if (!channel->is_null()) {
    list.channel = ReadChannel(*channel, error);
    if (!list.channel) return std::nullopt;
  } else if (!members->empty() || list.parts != 1) {
    *error = "voice list: members without a channel";
    return std::nullopt;
  }
  if (members->size() > kMaxFeedMembers) {
    *error = "voice list: more than " + std::to_string(kMaxFeedMembers) + " members";
    return std::nullopt;
  }
  for (size_t i = 0; i < members->size(); ++i) {
    std::optional<FeedMember> member = ReadMember((*members)[i], i, error);
    if (!member) return std::nullopt;
    list.members.push_back(std::move(*member));
  }
  return read;
}

std::optional<FeedMessage> ReadSpeaking(const Json& message, std::string* error) {
  FeedMessage read;
  read.kind = FeedMessage::Kind::Speaking;
  FieldReader r(message, "speaking: ");
  r.TakeText("user_id", read.userId, true, false);
  if (!JsonMember(message, "speaking")) r.Fail("\"speaking\" missing");
  r.TakeFlag("speaking", read.speaking);
  if (!r.ok()) {
    *error = r.error();
    return std::nullopt;
  }
  return read;
}

// {"kind":"member","seq":..,"op":"add"|"change","member":{..},"before":id|null}
// or {"kind":"member","seq":..,"op":"remove","id":..}.
std::optional<FeedMessage> ReadMemberChange(const Json& message, std::string* error) {
  FeedMessage read;
  FieldReader r(message, "member change: ");
  r.TakeCount("seq", read.seq, 0, INT64_MAX);
  const Json* op = JsonMember(message, "op");
  static const std::string kNone;
  const std::string& name = op && op->is_string() ? op->get_ref<const std::string&>() : kNone;
  if (name == "remove") {
    read.kind = FeedMessage::Kind::MemberRemove;
    r.TakeText("id", read.userId, true, false);
  } else if (name == "add" || name == "change") {
    read.kind = FeedMessage::Kind::MemberPut;
    r.TakeText("before", read.before, false, true);
    const Json* member = JsonMember(message, "member");
    if (!member) r.Fail("\"member\" missing");
    if (r.ok()) {
      std::optional<FeedMember> put = ReadMember(*member, 0, error);
      if (!put) return std::nullopt;
      read.member = std::move(*put);
    }
  } else {
    r.Fail("\"op\" is not add, change or remove");
  }
  if (!r.ok()) {
    *error = r.error();
    return std::nullopt;
  }
  return read;
}

}  // namespace

bool IsFeedMessage(const Json& message) { return JsonMember(message, "kind") != nullptr; }

std::optional<FeedMessage> ReadFeedMessage(const Json& message, size_t textBytes, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  if (textBytes > kMaxFeedMessageBytes) {
    *error = "message of " + std::to_string(textBytes) + " bytes, more than " + std::to_string(kMaxFeedMessageBytes);
    return std::nullopt;
  }
  const Json* kind = JsonMember(message, "kind");
  if (!kind || !kind->is_string()) {
    *error = "no \"kind\" text";
    return std::nullopt;
  }
  const std::string& name = kind->get_ref<const std::string&>();
  if (name == "speaking") return ReadSpeaking(message, error);
  if (name == "member") return ReadMemberChange(message, error);
  if (name != "voice") {
    *error = "unknown kind \"" + name.substr(0, 40) + "\"";
    return std::nullopt;
  }
  // The end is {"kind":"voice","live":false}; a list never carries "live".
  if (const Json* live = JsonMember(message, "live")) {
    if (live->is_boolean() && !live->get<bool>()) return FeedMessage{};
    *error = "voice: \"live\" is only ever false";
    return std::nullopt;
  }
  return ReadListPart(message, error);
}

std::optional<FeedList> FeedAssembler::Add(FeedList part, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  error->clear();
  if (part.seq < newest_) {
    *error = "stale part of list " + std::to_string(part.seq) + " (list " + std::to_string(newest_) + " is newer)";
    return std::nullopt;
  }
  newest_ = part.seq;
  const bool sameList = pending_ && part.seq == pending_->seq;
  if (sameList && (part.parts != pending_->parts || part.channel.has_value() != pending_->channel.has_value() ||
                   (part.channel && part.channel->id != pending_->channel->id) || part.selfId != pending_->selfId)) {
    *error = "part " + std::to_string(part.part) + " of list " + std::to_string(part.seq) + " disagrees with its other parts";
    Discard();
    return std::nullopt;
  }
  if (!sameList) {
    // A newer list discards what is left of an older one.
    pending_ = part;
    pending_->members.clear();
    parts_.assign(static_cast<size_t>(part.parts), std::nullopt);
    memberCount_ = 0;
  }
  auto& slot = parts_[static_cast<size_t>(part.part)];
  if (slot) {
    *error = "part " + std::to_string(part.part) + " of list " + std::to_string(part.seq) + " came twice";
    return std::nullopt;
  }
  memberCount_ += part.members.size();
  if (memberCount_ > kMaxFeedMembers) {
    *error = "list " + std::to_string(part.seq) + " has more than " + std::to_string(kMaxFeedMembers) + " members";
    Discard();
    return std::nullopt;
  }
  slot = std::move(part.members);
  for (const auto& each : parts_)
    if (!each) return std::nullopt;

  FeedList whole = std::move(*pending_);
  for (auto& each : parts_)
    for (FeedMember& member : *each) whole.members.push_back(std::move(member));
  Discard();
  whole.part = 0;
  return whole;
}

void FeedAssembler::Discard() {
  pending_.reset();
  parts_.clear();
  memberCount_ = 0;
}

void FeedAssembler::Reset() {
  Discard();
  newest_ = -1;
}

VoiceUser FeedUser(FeedMember member, const std::wstring& guildId) {
  VoiceUser user = std::move(member.user);
  if (!member.guildAvatarHash.empty() && !guildId.empty()) {
    user.guildId = guildId;
    user.guildAvatarHash = std::move(member.guildAvatarHash);
  }
  return user;
}

std::vector<VoiceUser> FeedUsers(FeedList list) {
  const std::wstring guildId = list.channel ? list.channel->guildId : std::wstring();
  std::vector<VoiceUser> users;
  users.reserve(list.members.size());
  for (FeedMember& member : list.members) users.push_back(FeedUser(std::move(member), guildId));
  return users;
}

RosterChange FeedIntake::Take(const FeedDelivery& delivery, uint32_t now, VoiceRoster& roster, std::string* problem,
                              std::string* note) {
  problem->clear();
  note->clear();
  if (!delivery.message) {
    if (delivery.connection != carrier_) return {};
    carrier_ = 0;
    listHeld_ = false;
    assembler_.Reset();
    return roster.EndFeed(now);
  }
  const FeedMessage& message = *delivery.message;
  using Kind = FeedMessage::Kind;
  if (message.kind == Kind::Speaking || message.kind == Kind::MemberPut || message.kind == Kind::MemberRemove) {
    // Only the list this connection brought is changed by it.
    if (delivery.connection != carrier_ || !listHeld_) {
      *problem = std::string(message.kind == Kind::Speaking ? "speaking" : "member change") + " for no list";
      return {};
    }
    if (message.kind == Kind::Speaking) return roster.SetSpeaking(VoiceSource::Plugin, message.userId, message.speaking);
    if (message.seq < listSeq_) {
      *problem = "member change " + std::to_string(message.seq) + " older than list " + std::to_string(listSeq_);
      return {};
    }
    if (message.kind == Kind::MemberRemove) return roster.RemoveFeedMember(message.userId);
    return roster.PutFeedMember(FeedUser(message.member, guildId_), message.before);
  }
  if (delivery.connection != carrier_) {
    assembler_.Reset();
    listHeld_ = false;
  }
  carrier_ = delivery.connection;
  if (message.kind == Kind::End) {
    assembler_.Reset();
    listHeld_ = false;
    return roster.EndFeed(now);
  }
  return TakeList(message.list, roster, problem, note);
}

RosterChange FeedIntake::TakeList(FeedList part, VoiceRoster& roster, std::string* problem, std::string* note) {
  std::optional<FeedList> list = assembler_.Add(std::move(part), problem);
  if (!list) return {};
  listHeld_ = true;
  listSeq_ = list->seq;
  guildId_ = list->channel ? list->channel->guildId : std::wstring();
  roster.SetSelfId(VoiceSource::Plugin, list->selfId);
  return roster.ReplaceList(VoiceSource::Plugin, FeedUsers(std::move(*list)), note);
}
