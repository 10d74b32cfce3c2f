#include "app/voice_source.h"

#include <set>

#include "app/json.h"

namespace {

// A member named twice would get two tiles; the first stands.
std::vector<VoiceUser> EachOnce(const std::vector<VoiceUser>& users) {
  std::vector<VoiceUser> once;
  std::set<std::wstring> seen;
  for (const VoiceUser& user : users)
    if (seen.insert(user.id).second) once.push_back(user);
  return once;
}

}  // namespace

bool VoiceSourceChooser::SetFeedList(const std::vector<VoiceUser>& users) {
  feed_ = EachOnce(users);
  feedLive_ = true;
  handingOver_ = false;
  return Refresh();
}

bool VoiceSourceChooser::SetFeedSpeaking(const std::wstring& userId, bool speaking) {
  if (!feedLive_) return false;
  for (VoiceUser& user : feed_)
    if (user.id == userId) user.speaking = speaking;
  return Refresh();
}

bool VoiceSourceChooser::EndFeed(uint32_t now) {
  if (!feedLive_) return false;
  feedLive_ = false;
  handingOver_ = true;
  feedEndTick_ = now;
  return Refresh();
}

bool VoiceSourceChooser::SetRpcList(const std::vector<VoiceUser>& users) {
  rpc_ = EachOnce(users);
  rpcHeard_ = true;
  return Refresh();
}

bool VoiceSourceChooser::LoseRpc() {
  rpc_.clear();
  rpcHeard_ = false;
  return Refresh();
}

bool VoiceSourceChooser::Advance(uint32_t now) {
  if (handingOver_ && now - feedEndTick_ >= kSourceHandoverMs) handingOver_ = false;
  return Refresh();
}

uint32_t VoiceSourceChooser::MsUntilAdvance(uint32_t now) const {
  if (!handingOver_) return 0xFFFFFFFF;
  const uint32_t elapsed = now - feedEndTick_;
  return elapsed >= kSourceHandoverMs ? 0 : kSourceHandoverMs - elapsed;
}

VoiceSource VoiceSourceChooser::Source() const {
  if (feedLive_ || (handingOver_ && !rpcHeard_)) return VoiceSource::Plugin;
  return rpcHeard_ ? VoiceSource::Rpc : VoiceSource::None;
}

bool VoiceSourceChooser::Refresh() {
  const VoiceSource source = Source();
  const std::vector<VoiceUser>& wanted = source == VoiceSource::Plugin ? feed_ : rpc_;
  if (source != VoiceSource::Plugin) handingOver_ = false;
  if (wanted == shown_) return false;
  shown_ = wanted;
  return true;
}

RpcPlan PlanRpc(const RpcFacts& f) {
  RpcPlan plan;
  const bool waiting = f.pluginInstalled && !f.feedSeen && f.msSinceStart < kFeedWaitMs;
  if (f.feedLive || waiting) {
    plan.connect = f.registeredApp;  // a kept token authenticates without a dialog
    return plan;
  }
  if (f.registeredApp) {
    plan.connect = plan.authorize = true;
    return plan;
  }
  // The built-in placeholder id is good for a stand-in of Discord only; where
  // the plugin is installed, the plugin is the way.
  plan.connect = plan.authorize = !f.pluginInstalled;
  plan.tellTwoWays = !f.twoWaysTold;
  return plan;
}

bool PluginEnabledIn(const std::string& pluginsJson) {
  std::optional<Json> list = ParseJson(pluginsJson);
  return list && JsonBool(*list, "Tallybell", false);
}
