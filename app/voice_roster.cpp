#include "app/voice_roster.h"

#include <algorithm>
#include <set>

namespace {

// The first of each id stands; the later ones are dropped and the first of
// them named in *note.
void KeepEachOnce(std::vector<VoiceUser>& users, std::string* note) {
  std::set<std::string> seen;
  auto twice = std::remove_if(users.begin(), users.end(), [&](const VoiceUser& user) {
    if (seen.insert(user.id).second) return false;
    if (note->empty()) *note = "member " + user.id + " named twice: the first stands";
    return true;
  });
  users.erase(twice, users.end());
}

std::vector<VoiceUser>::iterator FindMember(std::vector<VoiceUser>& users, const std::string& id) {
  return std::find_if(users.begin(), users.end(), [&](const VoiceUser& user) { return user.id == id; });
}

RosterChange MembersChanged() {
  RosterChange change;
  change.kind = RosterChange::Kind::Members;
  return change;
}

}  // namespace

RosterChange VoiceRoster::ReplaceList(VoiceSource from, std::vector<VoiceUser> users, std::string* note) {
  const Seen before = Look();
  note->clear();
  KeepEachOnce(users, note);
  std::vector<VoiceUser>& list = ListOf(from);
  const bool same = users == list;
  list = std::move(users);
  if (from == VoiceSource::Plugin) {
    feedLive_ = true;
    handingOver_ = false;
  } else {
    rpcHeard_ = true;
  }
  return Settle(before, same ? VoiceSource::None : from);
}

RosterChange VoiceRoster::PutFeedMember(VoiceUser member, const std::string& before) {
  if (!feedLive_) return {};
  auto old = FindMember(feed_, member.id);
  if (old != feed_.end()) feed_.erase(old);
  auto next = before.empty() ? feed_.end() : FindMember(feed_, before);
  feed_.insert(next, std::move(member));
  return Settle(Look(), VoiceSource::Plugin);
}

RosterChange VoiceRoster::RemoveFeedMember(const std::string& id) {
  if (!feedLive_) return {};
  auto member = FindMember(feed_, id);
  if (member == feed_.end()) return {};
  feed_.erase(member);
  return Settle(Look(), VoiceSource::Plugin);
}

RosterChange VoiceRoster::SetSpeaking(VoiceSource from, const std::string& id, bool speaking) {
  if (from == VoiceSource::Plugin && !feedLive_) return {};
  std::vector<VoiceUser>& list = ListOf(from);
  auto member = FindMember(list, id);
  if (member == list.end() || member->speaking == speaking) return {};
  member->speaking = speaking;
  if (Source() != from) return {};
  RosterChange change;
  change.kind = RosterChange::Kind::Speaking;
  change.id = id;
  change.speaking = speaking;
  return change;
}

bool VoiceRoster::SetSelfId(VoiceSource from, const std::string& id) {
  const std::string was = SelfId();
  (from == VoiceSource::Plugin ? feedSelf_ : rpcSelf_) = id;
  return SelfId() != was;
}

RosterChange VoiceRoster::EndFeed(uint32_t now) {
  if (!feedLive_) return {};
  const Seen before = Look();
  feedLive_ = false;
  handingOver_ = true;
  feedEndTick_ = now;
  return Settle(before, VoiceSource::None);
}

RosterChange VoiceRoster::LoseRpc() {
  const Seen before = Look();
  const bool had = !rpc_.empty();
  rpc_.clear();
  rpcHeard_ = false;
  return Settle(before, had ? VoiceSource::Rpc : VoiceSource::None);
}

RosterChange VoiceRoster::Advance(uint32_t now) {
  const Seen before = Look();
  if (handingOver_ && now - feedEndTick_ >= kSourceHandoverMs) handingOver_ = false;
  return Settle(before, VoiceSource::None);
}

uint32_t VoiceRoster::MsUntilAdvance(uint32_t now) const {
  if (!handingOver_) return 0xFFFFFFFF;
  const uint32_t elapsed = now - feedEndTick_;
  return elapsed >= kSourceHandoverMs ? 0 : kSourceHandoverMs - elapsed;
}

const std::vector<VoiceUser>& VoiceRoster::Shown() const {
  static const std::vector<VoiceUser> kNone;
  switch (Source()) {
    case VoiceSource::Plugin: return feed_;
    case VoiceSource::Rpc: return rpc_;
    default: return kNone;
  }
}

const std::string& VoiceRoster::SelfId() const {
  const bool feedFirst = Source() == VoiceSource::Plugin;
  const std::string& first = feedFirst ? feedSelf_ : rpcSelf_;
  return first.empty() ? (feedFirst ? rpcSelf_ : feedSelf_) : first;
}

VoiceSource VoiceRoster::Source() const {
  if (feedLive_ || (handingOver_ && !rpcHeard_)) return VoiceSource::Plugin;
  return rpcHeard_ ? VoiceSource::Rpc : VoiceSource::None;
}

VoiceRoster::Seen VoiceRoster::Look() const { return {Source(), Shown().empty()}; }

RosterChange VoiceRoster::Settle(const Seen& before, VoiceSource changedList) {
  const VoiceSource source = Source();
  if (source != VoiceSource::Plugin) handingOver_ = false;
  if (source == before.source)
    return changedList != VoiceSource::None && changedList == source ? MembersChanged() : RosterChange();
  // Another source: nothing to nothing is no change.
  return before.empty && Shown().empty() ? RosterChange() : MembersChanged();
}
