// The one voice roster: both sources (the plugin's feed, Discord's RPC) hand
// it typed changes, and it keeps each source's members and the user's own id,
// chooses which source the overlay shows (the feed while it is live, else the
// RPC client's list, with a handover between them) and says what changed, so
// that a speaking change reaches the overlay as one flag, not as a list.
// Pure: the caller passes ticks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/voice_source.h"
#include "app/voice_user.h"

// What changed in Shown().
struct RosterChange {
  enum class Kind { None, Speaking, Members };
  Kind kind = Kind::None;
  std::string id;         // Speaking: whose flag
  bool speaking = false;  // Speaking: its new value

  bool Any() const { return kind != Kind::None; }
};

// Both sources name members by their Discord ids, so the overlay's per-id
// entry ticks carry over a switch and a member who stayed is not animated in
// again. One list at a time, never a merge, and each member once: a list that
// names a member twice keeps the first and drops the later ones (one broken
// entry loses no one else).
class VoiceRoster {
 public:
  // A source's whole list; the feed's makes the feed live. *note names a
  // member named twice (left empty otherwise).
  RosterChange ReplaceList(VoiceSource from, std::vector<VoiceUser> users, std::string* note);
  // The feed's member joined or shows differently: it stands before the
  // member named by before (at the end for an empty or unknown one); only it
  // moves. A member already listed is replaced, not doubled.
  RosterChange PutFeedMember(VoiceUser member, const std::string& before);
  RosterChange RemoveFeedMember(const std::string& id);
  RosterChange SetSpeaking(VoiceSource from, const std::string& id, bool speaking);
  // The user's own id as a source knows it; whether SelfId() changed.
  bool SetSelfId(VoiceSource from, const std::string& id);
  RosterChange EndFeed(uint32_t now);
  // The RPC connection is gone: its list no longer stands.
  RosterChange LoseRpc();
  // Ends a handover that ran out.
  RosterChange Advance(uint32_t now);
  // When Advance is due next; 0xFFFFFFFF while no handover runs.
  uint32_t MsUntilAdvance(uint32_t now) const;

  const std::vector<VoiceUser>& Shown() const;
  // The user's id from the source shown, else from the other one.
  const std::string& SelfId() const;
  VoiceSource Source() const;
  bool FeedLive() const { return feedLive_; }

 private:
  std::vector<VoiceUser>& ListOf(VoiceSource from) { return from == VoiceSource::Plugin ? feed_ : rpc_; }
  // What was shown before a change: its source and whether it was empty.
  struct Seen {
    VoiceSource source;
    bool empty;
  };
  Seen Look() const;
  // Members when the source shown changed, or when changedList is the one shown.
  RosterChange Settle(const Seen& before, VoiceSource changedList);

  std::vector<VoiceUser> feed_;
  std::vector<VoiceUser> rpc_;
  std::string feedSelf_;
  std::string rpcSelf_;
  bool feedLive_ = false;
  bool rpcHeard_ = false;     // the RPC client delivered a list since it (re)connected
  bool handingOver_ = false;  // the feed ended; its list waits for the RPC client's
  uint32_t feedEndTick_ = 0;
};
