// The plugin's voice feed as the endpoints hand it over, one message per
// line: a refused message always says why, a read list part stays within its
// bounds and reads back the same once written again, and the lists the
// assembler completes are bounded. The same lines go through the intake over
// three connections (an empty line closes one): the roster never shows a
// member twice, whatever lists and member changes come.
#include <cstdint>
#include <set>
#include <string>

#include "app/text_convert.h"
#include "notify/voice_feed.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

Json Text(const std::wstring& value) { return WideToUtf8(value); }
Json Text(const std::string& value) { return value; }
template <class String>
Json TextOrNull(const String& value) { return value.empty() ? Json() : Text(value); }

// As the endpoints read it: parsed once, then read as the feed's.
std::optional<FeedMessage> ParseFeed(std::string_view text, std::string* error) {
  std::optional<Json> parsed = ParseJson(text, error);
  return parsed ? ReadFeedMessage(*parsed, text.size(), error) : std::nullopt;
}

std::string Written(const FeedList& list) {
  Json members = Json::array();
  for (const FeedMember& m : list.members)
    members.push_back({{"id", Text(m.user.id)}, {"name", Text(m.user.displayName)}, {"avatar", TextOrNull(m.user.avatarHash)},
                       {"guild_avatar", TextOrNull(m.guildAvatarHash)}, {"bot", m.user.bot}, {"mute", m.user.muted},
                       {"deaf", m.user.deafened}, {"speaking", m.user.speaking}, {"local_mute", m.user.localMute},
                       {"live", m.user.live}, {"video", m.user.video}});
  Json channel;
  if (list.channel)
    channel = {{"id", Text(list.channel->id)}, {"guild_id", TextOrNull(list.channel->guildId)},
               {"type", list.channel->type}, {"name", Text(list.channel->name)}};
  return FormatJson({{"kind", "voice"}, {"seq", list.seq}, {"part", list.part}, {"parts", list.parts},
                     {"channel", channel}, {"self_id", TextOrNull(list.selfId)}, {"members", members}});
}

bool Same(const FeedList& a, const FeedList& b) {
  if (a.seq != b.seq || a.part != b.part || a.parts != b.parts || a.selfId != b.selfId ||
      a.channel.has_value() != b.channel.has_value() || a.members.size() != b.members.size())
    return false;
  if (a.channel && (a.channel->id != b.channel->id || a.channel->guildId != b.channel->guildId ||
                    a.channel->type != b.channel->type || a.channel->name != b.channel->name))
    return false;
  for (size_t i = 0; i < a.members.size(); ++i)
    if (!(a.members[i].user == b.members[i].user) || a.members[i].guildAvatarHash != b.members[i].guildAvatarHash)
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  FeedAssembler assembler;
  FeedIntake intake;
  VoiceRoster roster;
  uint32_t lines = 0;
  for (size_t start = 0; start <= input.size();) {
    size_t end = input.find('\n', start);
    if (end == std::string::npos) end = input.size();
    std::string error;
    std::optional<FeedMessage> message = ParseFeed(std::string_view(input).substr(start, end - start), &error);
    const bool emptyLine = end == start;
    start = end + 1;
    FUZZ_CHECK(message.has_value() || !error.empty());
    if (message || emptyLine) {
      std::string problem, note;
      ++lines;
      const RosterChange change = intake.Take(
          FeedDelivery{lines % 3 + 1, emptyLine ? std::optional<FeedMessage>() : message}, lines * 100, roster, &problem,
          &note);
      FUZZ_CHECK(change.kind != RosterChange::Kind::Speaking || !change.id.empty());
      std::set<std::string> shown;
      for (const VoiceUser& user : roster.Shown()) FUZZ_CHECK(shown.insert(user.id).second);
      // Member changes add one at a time, each after a bounded list.
      FUZZ_CHECK(shown.size() <= kMaxFeedMembers + lines);
    }
    if (!message || message->kind != FeedMessage::Kind::ListPart) continue;
    const FeedList& part = message->list;
    FUZZ_CHECK(part.part >= 0 && part.part < part.parts && part.parts <= kMaxFeedParts);
    FUZZ_CHECK(part.members.size() <= kMaxFeedMembers && (part.channel || part.members.empty()));
    for (const FeedMember& m : part.members) FUZZ_CHECK(!m.user.id.empty() && m.user.username == m.user.displayName);
    const std::string written = Written(part);
    std::optional<FeedMessage> again = ParseFeed(written, &error);
    // Written out in full, a part may outgrow the size limit; otherwise it reads back the same.
    FUZZ_CHECK(again ? Same(again->list, part) : written.size() > kMaxFeedMessageBytes);
    std::optional<FeedList> whole = assembler.Add(part, &error);
    if (!whole) continue;
    FUZZ_CHECK(whole->members.size() <= kMaxFeedMembers && whole->members.size() >= part.members.size());
  }
  return 0;
}
