// Where the voice overlay's members come from: the companion plugin's feed
// while it is live, else Discord's RPC; and how the RPC side is steered so
// that a user with the plugin never meets Discord's consent dialog or a
// rejected placeholder id. Pure: the caller passes ticks and facts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rpc/voice_user.h"

enum class VoiceSource { None, Plugin, Rpc };

// After the feed ends, its last list stays on screen at most this long while
// the RPC client brings its own, so members in both keep their tiles.
constexpr uint32_t kSourceHandoverMs = 5000;
// With the plugin installed, Discord's authorization waits this long for its
// feed at start.
constexpr uint32_t kFeedWaitMs = 10000;

// Which list the overlay shows. One whole list at a time, never a merge, and
// each member once; both sources name members by their Discord ids, so the
// overlay's per-id entry ticks carry over a switch and a member who stayed is
// not animated in again.
class VoiceSourceChooser {
 public:
  // Each returns whether Shown() changed; the overlay then takes it whole.
  bool SetFeedList(const std::vector<VoiceUser>& users);  // a complete list: the feed is live
  bool SetFeedSpeaking(const std::wstring& userId, bool speaking);
  bool EndFeed(uint32_t now);
  bool SetRpcList(const std::vector<VoiceUser>& users);
  // The RPC connection is gone: its list no longer stands.
  bool LoseRpc();
  // Ends a handover that ran out.
  bool Advance(uint32_t now);
  // When Advance is due next; 0xFFFFFFFF while no handover runs.
  uint32_t MsUntilAdvance(uint32_t now) const;

  const std::vector<VoiceUser>& Shown() const { return shown_; }
  VoiceSource Source() const;
  bool FeedLive() const { return feedLive_; }

 private:
  bool Refresh();

  std::vector<VoiceUser> feed_;
  std::vector<VoiceUser> rpc_;
  std::vector<VoiceUser> shown_;
  bool feedLive_ = false;
  bool rpcHeard_ = false;        // the RPC client delivered a list since it (re)connected
  bool handingOver_ = false;     // the feed ended; its list waits for the RPC client's
  uint32_t feedEndTick_ = 0;
};

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
