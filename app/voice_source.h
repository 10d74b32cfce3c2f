// The two sources of the voice overlay's members (the companion plugin's
// feed, Discord's RPC), and how the RPC side is steered so that a user with
// the plugin never meets Discord's consent dialog or a rejected placeholder
// id. Pure: the caller passes ticks and facts.
#pragma once

#include <cstdint>
#include <string>

enum class VoiceSource { None, Plugin, Rpc };

// After the feed ends, its last list stays on screen at most this long while
// the RPC client brings its own, so members in both keep their tiles.
constexpr uint32_t kSourceHandoverMs = 5000;
// With the plugin installed, Discord's authorization waits this long for its
// feed at start.
constexpr uint32_t kFeedWaitMs = 10000;

// What the RPC side is steered by.
struct RpcFacts {
  bool pluginInstalled = false;  // the plugin lies in BetterDiscord's plugins folder
  bool registeredApp = false;    // client_id is not the built-in placeholder
  bool feedLive = false;
  bool feedSeen = false;         // the feed was live at some time in this run
  uint32_t msSinceStart = 0;
  bool twoWaysTold = false;      // the balloon naming the two ways was shown
};

struct RpcPlan {
  bool connect = false;      // knock on Discord's RPC pipe at all
  bool authorize = false;    // may ask Discord for authorization (its consent dialog)
  bool tellTwoWays = false;  // time for the one balloon naming the plugin and an application
};

RpcPlan PlanRpc(const RpcFacts& facts);

// Whether BetterDiscord's list of enabled plugins (the text of its
// data/<release channel>/plugins.json) has the Tallybell plugin on. A plugin
// file that BetterDiscord keeps switched off sends nothing to wait for.
bool PluginEnabledIn(const std::string& pluginsJson);
