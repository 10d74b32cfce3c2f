// The companion plugin's voice feed: the user's voice channel and its members
// (a list sent in parts), one member's change, speaking changes and the
// feed's end, each one JSON
// object with a "kind" over the notification endpoints. Read with the
// project's JSON reader into plain records; anything else gives a reason for
// the log and no record. No platform calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/json.h"
#include "app/voice_roster.h"
#include "app/voice_user.h"

// A message is at most this long (the pipe's and the notifications' limit);
// a list is at most this many parts and members (a stage can hold hundreds).
constexpr size_t kMaxFeedMessageBytes = 4096;
constexpr int64_t kMaxFeedParts = 256;
constexpr size_t kMaxFeedMembers = 1000;
// Ids, hashes and names are short on Discord; longer ones are not Discord's.
constexpr size_t kMaxFeedFieldBytes = 256;

// A member as the plugin sends it. The name is the one Discord shows, so it
// fills both names. With a server avatar the picture is
// /guilds/{channel.guildId}/users/{id}/avatars/{guildAvatarHash}.png.
struct FeedMember {
  VoiceUser user;
  std::wstring guildAvatarHash;
};

struct FeedChannel {
  std::string id;
  std::wstring guildId;  // empty for DM and group calls
  int64_t type = 0;      // Discord's channel type: 1 DM, 2 voice, 3 group DM, 13 stage
  std::wstring name;
};

// One part of a list, or (after assembly) the whole list.
struct FeedList {
  int64_t seq = 0;
  int64_t part = 0;
  int64_t parts = 1;
  std::optional<FeedChannel> channel;  // none: the user is in no voice channel
  std::string selfId;
  std::vector<FeedMember> members;
};

struct FeedMessage {
  enum class Kind { ListPart, Speaking, End, MemberPut, MemberRemove };
  Kind kind = Kind::End;
  FeedList list;          // ListPart
  std::string userId;     // Speaking, MemberRemove
  bool speaking = false;  // Speaking
  int64_t seq = 0;        // MemberPut, MemberRemove
  FeedMember member;      // MemberPut
  std::string before;     // MemberPut: the id it stands before; empty: the end
};

// Whether a parsed message belongs to the feed (it has a "kind"); a
// notification has none.
bool IsFeedMessage(const Json& message);
// The feed's message in one parsed object, parsed from textBytes bytes;
// nothing, with the reason in *error, when it breaks the format or the size.
std::optional<FeedMessage> ReadFeedMessage(const Json& message, size_t textBytes, std::string* error);

// Joins the parts of a list by seq. Parts may come in any order; a part of a
// newer seq discards an unfinished older list, one of an older seq is stale.
// A member named twice is the roster's to settle.
// Seq counts per plugin start, so the owner resets the assembler when the
// connection that carried the feed closes.
class FeedAssembler {
 public:
  // The whole list when this part completes it; nothing otherwise, with a
  // reason in *error when the part was dropped (left empty when it was kept).
  std::optional<FeedList> Add(FeedList part, std::string* error);
  void Reset();

 private:
  void Discard();

  std::optional<FeedList> pending_;  // the unfinished list's channel and ids
  std::vector<std::optional<std::vector<FeedMember>>> parts_;  // its members by part
  size_t memberCount_ = 0;
  int64_t newest_ = -1;  // the newest seq seen
};

// One message of the feed as an endpoint hands it on, with the connection it
// came by; without a message, that connection (which carried the feed) closed.
struct FeedDelivery {
  uint64_t connection = 0;
  std::optional<FeedMessage> message;
};

// The overlay's member: with the server of its list (empty in a call), whose
// picture the member's server avatar is.
VoiceUser FeedUser(FeedMember member, const std::wstring& guildId);
std::vector<VoiceUser> FeedUsers(FeedList list);

// Turns the endpoints' deliveries into the roster's feed: lists joined from
// their parts, members changed, speaking changes, and the feed's end by its
// end message or by the close of the connection that carried its last voice
// message. Seq counts per plugin start, so a voice message from another
// connection starts the assembly afresh, and a change of one member or of
// speaking belongs to the list this connection brought.
class FeedIntake {
 public:
  // What changed in the roster; a dropped message's reason goes to *problem
  // (empty otherwise). *note: the roster's word on a list (a member named twice).
  RosterChange Take(const FeedDelivery& delivery, uint32_t now, VoiceRoster& roster, std::string* problem,
                    std::string* note);

 private:
  RosterChange TakeList(FeedList part, VoiceRoster& roster, std::string* problem, std::string* note);

  FeedAssembler assembler_;
  uint64_t carrier_ = 0;  // the connection of the last voice message; 0 none
  bool listHeld_ = false;  // the carrier brought a whole list since it opened
  int64_t listSeq_ = 0;    // that list's seq
  std::wstring guildId_;   // that list's server
};
