#include "overlay/overlay_state.h"

#include <algorithm>
#include <cmath>

#include "app/config.h"
#include "app/text_convert.h"
#include "overlay/text_clusters.h"

namespace {

void StampNewCard(OverlayNotification& card, uint32_t now) {
  card.createdTick = now;
  card.alpha = 1.0f;
  card.slideIn = 0.0f;
}

bool JoinOver(uint32_t joinTick, uint32_t now) {
  return joinTick != 0 && static_cast<uint32_t>(now - joinTick) >= kJoinAnimationMs;
}

}  // namespace

MemberCounts OverlayState::SetVoiceUsers(const std::vector<VoiceUser>& list, uint32_t now) {
  std::vector<VoiceUser> ordered;
  ordered.reserve(list.size());
  MemberCounts counts;
  counts.total = list.size();
  for (const VoiceUser& user : list)
    if (!user.bot) ordered.push_back(user);
  counts.humans = ordered.size();
  counts.bots = counts.total - counts.humans;
  for (const VoiceUser& user : list)
    if (user.bot) ordered.push_back(user);

  // joinTicks holds exactly the members known so far.
  std::set<std::string> spoke;
  for (const VoiceUser& user : users)
    if (user.speaking) spoke.insert(user.id);
  std::map<std::string, uint32_t> ticks;
  std::vector<Stop> stillStopped;
  for (const VoiceUser& user : ordered) {
    auto known = joinTicks.find(user.id);
    ticks.emplace(user.id, known != joinTicks.end() ? known->second : now);
    if (user.speaking) continue;
    auto stop = std::find_if(stops.begin(), stops.end(), [&](const Stop& s) { return s.id == user.id; });
    if (spoke.count(user.id)) stillStopped.push_back({user.id, now});
    else if (stop != stops.end()) stillStopped.push_back(*stop);
  }
  stops = std::move(stillStopped);
  users = std::move(ordered);
  joinTicks = std::move(ticks);
  RefreshShown(now);
  return counts;
}

bool OverlayState::SetSpeaking(const std::string& id, bool speaking, uint32_t now) {
  auto user = std::find_if(users.begin(), users.end(), [&](const VoiceUser& u) { return u.id == id; });
  if (user == users.end() || user->speaking == speaking) return false;
  user->speaking = speaking;
  auto stop = std::find_if(stops.begin(), stops.end(), [&](const Stop& s) { return s.id == id; });
  if (stop != stops.end()) stops.erase(stop);
  if (!speaking) stops.push_back({id, now});
  // Who is let through depends on speaking only under this filter.
  if (filter.showOnlySpeaking) {
    RefreshShown(now);
    return true;
  }
  for (MemberTile& tile : shown)
    if (tile.id == id) tile.speaking = speaking;
  return true;
}

uint32_t OverlayState::LingerLeft(const VoiceUser& user, uint32_t now) const {
  for (const Stop& stop : stops) {
    if (stop.id != user.id) continue;
    uint32_t since = now - stop.tick;
    return since < kSpeakingLingerMs ? kSpeakingLingerMs - since : 0;
  }
  return 0;
}

bool OverlayState::Passes(const VoiceUser& user, uint32_t now) const {
  if (filter.hiddenIds.count(user.id)) return false;
  if (!filter.showOnlySpeaking || user.speaking) return true;
  if (KeptAsSelf(user)) return true;
  return LingerLeft(user, now) > 0;
}

bool OverlayState::KeptAsSelf(const VoiceUser& user) const {
  return filter.alwaysShowSelf && !selfId.empty() && user.id == selfId;
}

void OverlayState::RefreshShown(uint32_t now) {
  std::map<std::string, uint32_t> tileTicks;
  for (const MemberTile& tile : shown) tileTicks.emplace(tile.id, tile.joinTick);
  std::vector<MemberTile> next;
  for (const VoiceUser& user : users) {
    if (!Passes(user, now)) continue;
    MemberTile tile;
    static_cast<VoiceUser&>(tile) = user;
    auto known = tileTicks.find(user.id);
    auto listed = joinTicks.find(user.id);
    const uint32_t joinTick = listed != joinTicks.end() ? listed->second : 0;
    // A member let through mid-way keeps its own running animation; one let
    // through later starts one now.
    const bool joining = joinTick != 0 && static_cast<uint32_t>(now - joinTick) < kJoinAnimationMs;
    tile.joinTick = known != tileTicks.end() ? known->second : joining ? joinTick : now;
    tile.displayName = CutName(ShownName(user), filter.maxNameLength);
    next.push_back(std::move(tile));
  }
  shown = std::move(next);
}

void OverlayState::SetFilter(const MemberFilter& next, uint32_t now) {
  if (next == filter) return;
  filter = next;
  RefreshShown(now);
}

uint32_t OverlayState::MsUntilLingerEnds(uint32_t now) const {
  uint32_t soonest = kNoLinger;
  if (!filter.showOnlySpeaking) return soonest;
  // A silent tile still shown past its linger is due to leave now.
  for (const MemberTile& user : shown) {
    if (!user.speaking && !KeptAsSelf(user)) soonest = std::min(soonest, LingerLeft(user, now));
  }
  return soonest;
}

MemberFilter MemberFilterFromConfig(const Config& c) {
  MemberFilter filter{c.show_only_speaking, c.always_show_self, {}, c.max_name_length};
  for (const std::wstring& id : SplitIdList(c.hidden_users)) filter.hiddenIds.insert(WideToUtf8(id));
  return filter;
}

std::wstring CutName(const std::wstring& name, int32_t maxLength) {
  if (maxLength <= 0 || CountClusters(name) <= static_cast<size_t>(maxLength)) return name;
  return name.substr(0, ClusterPrefix(name, static_cast<size_t>(maxLength) - 1)) + L"\u2026";
}

size_t OverlayState::AddNotification(const OverlayNotification& record, uint32_t now) {
  OverlayNotification card = record;
  StampNewCard(card, now);
  notifications.push_back(std::move(card));
  size_t count = notifications.size();
  if (notifications.size() > kCardLimit)
    notifications.erase(notifications.begin(), notifications.end() - kCardLimit);
  return count;
}

void OverlayState::AddMessageNotification(const std::wstring& sender, const std::wstring& text, uint32_t now) {
  OverlayNotification card;
  card.data.username = sender;
  card.data.displayName = sender;
  card.data.content = text;
  AddNotification(card, now);
}

void OverlayState::Update(uint32_t now, uint32_t durationMs) {
  auto expired = [&](const OverlayNotification& card) {
    return static_cast<uint32_t>(now - card.createdTick) > durationMs;
  };
  notifications.erase(std::remove_if(notifications.begin(), notifications.end(), expired), notifications.end());
  for (OverlayNotification& card : notifications) {
    uint32_t age = now - card.createdTick;
    card.slideIn = age < kSlideInMs ? static_cast<float>(age) / static_cast<float>(kSlideInMs) : 1.0f;
    // Below 500 ms of duration the subtraction wraps and no age exceeds it:
    // such cards never fade.
    uint32_t fadeStart = durationMs - kFadeOutMs;
    card.alpha = age > fadeStart ? static_cast<float>(durationMs - age) / static_cast<float>(kFadeOutMs) : 1.0f;
  }
  // Otherwise `shown` changes only with the members or the filter.
  if (filter.showOnlySpeaking) RefreshShown(now);
  for (auto& [id, tick] : joinTicks)
    if (JoinOver(tick, now)) tick = 0;
  for (MemberTile& tile : shown)
    if (JoinOver(tile.joinTick, now)) tile.joinTick = 0;
}

uint32_t OverlayState::MsUntilNextChange(uint32_t now, uint32_t durationMs) const {
  for (const MemberTile& tile : shown)
    if (tile.joinTick != 0) return 0;
  uint32_t wait = MsUntilLingerEnds(now);  // kNoLinger is kNoChange
  // Once a card's age passes this it fades or goes. Same wrap as in Update:
  // below 500 ms of duration a card never fades, it only goes.
  const uint32_t fadeStart = durationMs - kFadeOutMs;
  const uint32_t steadyUntil = std::min(fadeStart, durationMs);
  for (const OverlayNotification& card : notifications) {
    uint32_t age = now - card.createdTick;
    if (age < kSlideInMs || age > steadyUntil) return 0;
    wait = std::min(wait, steadyUntil - age + 1);
  }
  return wait;
}

float JoinScale(uint32_t joinTick, uint32_t now) {
  if (joinTick == 0) return 1.0f;
  uint32_t elapsed = now - joinTick;
  float t = std::min(1.0f, static_cast<float>(elapsed) / static_cast<float>(kJoinAnimationMs));
  if (t <= 0.0f) return 0.3f;
  if (t >= 1.0f) return 1.0f;
  const float kPi = 3.1415927f;
  return std::sin(2.0f * kPi * t) * (1.0f - t) * 0.25f + (0.7f * t + 0.3f);
}

std::wstring DescribeMemberCounts(const MemberCounts& counts) {
  return L"SetVoiceUsers: " + std::to_wstring(counts.total) + L" users (" + std::to_wstring(counts.humans) +
         L" users, " + std::to_wstring(counts.bots) + L" bots)";
}

std::wstring DescribeAddedCard(const OverlayNotification& card, size_t count) {
  // The log is what users share with us: the length of a message, never its text.
  return L"Added notification - displayName: " + card.data.displayName + L", content: " +
         std::to_wstring(card.data.content.size()) + L" characters, total count: " + std::to_wstring(count);
}

int32_t ClampColumnOffset(int32_t start, int32_t travel, int32_t extent, int32_t avatarSize, int32_t margin) {
  int64_t bound = static_cast<int64_t>(extent) - avatarSize - margin;
  int64_t wanted = static_cast<int64_t>(start) + travel;
  return static_cast<int32_t>(std::max<int64_t>(0, std::min(bound, wanted)));
}
