// The simulated Discord desktop client's RPC side, without any I/O: takes
// the frames a client sends and gives the frames Discord would answer, and
// turns timeline steps into events for the subscribed client. Message shapes
// follow the real client's (compact JSON, keys in its order).
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "rpc/rpc_frame.h"
#include "tools/discord_sim/sim_scenario.h"

// Codes handed out by AUTHORIZE and tokens issued for them; shared by the
// pipe side and the token endpoint (another thread).
class SimAuthRegistry {
 public:
  std::string IssueCode();
  // The token for a code issued and not yet used; empty otherwise.
  std::string RedeemCode(const std::string& code);
  bool IsToken(const std::string& token) const;

 private:
  mutable std::mutex mutex_;
  std::set<std::string> codes_;
  std::set<std::string> tokens_;
  int serial_ = 0;
};

struct SimReply {
  std::vector<RpcFrame> frames;
  std::string bytes;   // written as they are, after the frames
  bool cut = false;    // bytes end inside a frame: nothing can follow them
  bool close = false;  // end the connection once these are written and read
  bool drop = false;   // end it at once, as a crash would
  bool restart = false;  // end it and take the pipe away for a while
  uint32_t stallMs = 0;  // stop reading for this long
};

class SimDiscord {
 public:
  SimDiscord(SimScenario scenario, SimAuthRegistry& auth);

  // A new client connection: nothing is handshaken, subscribed or
  // authenticated on it yet.
  void OnConnect();
  SimReply HandleFrame(const RpcFrame& frame);

  // The timeline runs while the connection is authenticated.
  bool TimelineActive() const;
  // Delay before the next step; only while TimelineActive.
  uint32_t NextStepDelayMs() const;
  // Runs the next step of the timeline and advances it.
  SimReply RunNextStep();
  // Runs one step now, outside the timeline.
  SimReply RunStep(const SimStep& step);

 private:
  SimReply HandleCommand(const std::string& payload);
  std::string VoiceStateJson(const SimMember& member) const;
  std::string SnapshotJson(const std::string& nonce) const;
  bool Subscribed(const std::string& evt, const std::string& channelId) const;
  void AddChannelEvent(SimReply& reply, const std::string& evt, const std::string& data) const;
  SimMember* FindSelectedMember(const std::string& id);

  SimScenario scenario_;
  SimAuthRegistry& auth_;
  bool handshaken_ = false;
  bool authenticated_ = false;
  std::string clientId_;
  std::set<std::pair<std::string, std::string>> subscriptions_;  // evt, channel id ("" for global)
  size_t nextStep_ = 0;
};

// A JSON string literal with its quotes.
std::string JsonQuote(const std::string& text);
