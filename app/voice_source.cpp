#include "app/voice_source.h"

#include "app/json.h"

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
