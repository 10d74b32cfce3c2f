// What the overlay shows, apart from how it is drawn: its copy of the voice
// channel's members (with their entry-animation ticks) and the notification
// cards (with their slide-in and fade). Ticks are 32-bit milliseconds; every
// difference is taken modulo 2^32, so the counter's wrap-around does no harm.
// No platform calls: the caller passes the tick.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "overlay/overlay_notification.h"
#include "app/voice_user.h"

constexpr size_t kCardLimit = 5;
constexpr uint32_t kSlideInMs = 300;
constexpr uint32_t kFadeOutMs = 500;
constexpr uint32_t kJoinAnimationMs = 500;
constexpr uint32_t kSpeakingLingerMs = 1500;
constexpr uint32_t kNoLinger = 0xFFFFFFFFu;

// Which members get a tile, and how long a shown name may be.
struct MemberFilter {
  bool showOnlySpeaking = false;
  bool alwaysShowSelf = true;
  std::set<std::string> hiddenIds;
  int32_t maxNameLength = 0;  // user-perceived characters, the ellipsis included; 0: no limit

  bool operator==(const MemberFilter& o) const {
    return showOnlySpeaking == o.showOnlySpeaking && alwaysShowSelf == o.alwaysShowSelf && hiddenIds == o.hiddenIds &&
           maxNameLength == o.maxNameLength;
  }
  bool operator!=(const MemberFilter& o) const { return !(*this == o); }
};

// A member as drawn: the name cut, and the tile's entry animation.
struct MemberTile : VoiceUser {
  uint32_t joinTick = 0;  // the entry animation's start; 0 = full size
};

struct MemberCounts {
  size_t total = 0;
  size_t humans = 0;
  size_t bots = 0;
};

struct OverlayState {
  std::vector<VoiceUser> users;                      // humans first, then bots
  // When each of users came into the list (its entry animation), by id; 0 once over.
  std::map<std::string, uint32_t> joinTicks;
  std::vector<OverlayNotification> notifications;  // oldest first
  // What is drawn: the members the filter lets through, names cut, each
  // with an entry animation of its own from the moment it is let through.
  std::vector<MemberTile> shown;
  MemberFilter filter;  // the owner sets it before Update
  std::string selfId;   // the user's own id, as the voice roster knows it
  struct Stop {
    std::string id;
    uint32_t tick;
  };
  std::vector<Stop> stops;  // members that stopped speaking, and when

  // Replaces the members; a member already known by id keeps its join tick,
  // a new one starts its entry animation at now.
  MemberCounts SetVoiceUsers(const std::vector<VoiceUser>& list, uint32_t now);
  // One member's speaking flag, in users and in its tile; whether it changed.
  bool SetSpeaking(const std::string& id, bool speaking, uint32_t now);
  // Appends the card stamped with now and trims to the newest five; returns
  // the count right after the append (six when one was pushed out).
  size_t AddNotification(const OverlayNotification& record, uint32_t now);
  void AddMessageNotification(const std::wstring& sender, const std::wstring& text, uint32_t now);
  // Expires cards older than durationMs, advances slide-in and fade, ends
  // finished entry animations.
  void Update(uint32_t now, uint32_t durationMs);
  // Rebuilds `shown` from `users` and `filter`.
  void RefreshShown(uint32_t now);
  // Sets the filter; `shown` is rebuilt when it changed.
  void SetFilter(const MemberFilter& next, uint32_t now);
  // Time until the next tile kept by the speaking linger leaves; kNoLinger
  // when none is lingering.
  uint32_t MsUntilLingerEnds(uint32_t now) const;
  // How long the picture stays as it is without new input: 0 while a tile
  // grows or a card slides, fades or is due to go; kNoChange when nothing
  // would ever change by itself (the speaking linger included).
  uint32_t MsUntilNextChange(uint32_t now, uint32_t durationMs) const;

 private:
  uint32_t LingerLeft(const VoiceUser& user, uint32_t now) const;
  bool Passes(const VoiceUser& user, uint32_t now) const;
  // The user's own tile, which "always show self" keeps whether speaking or not.
  bool KeptAsSelf(const VoiceUser& user) const;
};

constexpr uint32_t kNoChange = kNoLinger;

struct Config;
MemberFilter MemberFilterFromConfig(const Config& config);

// The name cut to maxLength user-perceived characters, the last being "…",
// never inside one (a flag, a skin-toned emoji or a ZWJ sequence counts as
// one); unchanged when it fits or maxLength is 0.
std::wstring CutName(const std::wstring& name, int32_t maxLength);

// Size factor of a member's tile: 0.3 at the join tick, 1.0 from 500 ms on,
// with a quick rise and a short hesitation between.
float JoinScale(uint32_t joinTick, uint32_t now);

// "SetVoiceUsers: 5 users (4 users, 1 bots)"
std::wstring DescribeMemberCounts(const MemberCounts& counts);
// "Added notification - displayName: ..., content: 12 characters, total count: N"
std::wstring DescribeAddedCard(const OverlayNotification& card, size_t count);

// One coordinate of the member column while dragging: the start offset moved
// by the cursor's travel, kept between 0 and extent - avatarSize - margin
// (0 when that bound is negative). Wide arithmetic: no overflow.
int32_t ClampColumnOffset(int32_t start, int32_t travel, int32_t extent, int32_t avatarSize, int32_t margin);
