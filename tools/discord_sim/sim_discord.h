// The simulated Discord desktop client's RPC side, without any I/O: takes
// the frames a client sends and gives the frames Discord would answer, and
// turns timeline steps into events for the subscribed client. Message shapes
// and connection rules follow the real client's (compact JSON, keys in its
// order, subscriptions kept until UNSUBSCRIBE, handshakes limited).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/json.h"
#include "rpc/rpc_frame.h"
#include "tools/discord_sim/sim_scenario.h"

// Discord's server side: codes handed out by AUTHORIZE, tokens issued for
// them, and which applications the user has authorized. It outlives restarts
// of the simulated desktop client. Shared by the pipe side and the token
// endpoint (another thread).
class SimAuthRegistry {
 public:
  std::string IssueCode();
  // The token for a code issued and not yet used; empty otherwise.
  std::string RedeemCode(const std::string& code);
  bool IsToken(const std::string& token) const;
  // Every token issued so far stops working, as when they expire.
  void ExpireTokens();
  bool IsAuthorized(const std::string& clientId) const;
  void MarkAuthorized(const std::string& clientId);
  // Counts one consent dialog shown; returns the count so far.
  int CountConsentDialog();
  int ConsentDialogs() const;

 private:
  mutable std::mutex mutex_;
  std::set<std::string> codes_;
  std::set<std::string> tokens_;
  std::set<std::string> authorized_;
  int serial_ = 0;
  int consentDialogs_ = 0;
};

// Handshakes of one client id: two at once, then one per interval.
class SimHandshakeLimiter {
 public:
  explicit SimHandshakeLimiter(uint32_t intervalMs) : intervalMs_(intervalMs) {}
  bool TryTake(uint64_t nowMs);
  // When the next handshake may be answered (nowMs when at once).
  uint64_t NextSlotAt(uint64_t nowMs);

 private:
  void Refill(uint64_t nowMs);
  static constexpr int kBurst = 2;
  uint32_t intervalMs_;
  int slots_ = kBurst;
  uint64_t lastRefillMs_ = 0;
};

struct SimReply {
  std::vector<RpcFrame> frames;
  std::vector<std::string> notes;  // lines for the log ("CONSENT DIALOG ...")
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
  // The desktop client restarts: its handshake limits start afresh.
  void OnRestart();
  SimReply HandleFrame(const RpcFrame& frame, uint64_t nowMs);
  // When a handshake held back by the limiter gets its READY; none when no
  // handshake waits.
  std::optional<uint64_t> QueuedReadyAt(uint64_t nowMs);
  SimReply ReleaseQueuedReady(uint64_t nowMs);

  // The timeline runs while the connection is authenticated.
  bool TimelineActive() const;
  // Delay before the next step; only while TimelineActive.
  uint32_t NextStepDelayMs() const;
  // Runs the next step of the timeline and advances it.
  SimReply RunNextStep();
  // Runs one step now, outside the timeline.
  SimReply RunStep(const SimStep& step);

 private:
  SimReply HandleHandshake(const std::string& payload, uint64_t nowMs);
  SimReply Ready();
  SimReply HandleCommand(const std::string& payload);
  void Authorize(const Json& args, const std::function<void(const std::string&, bool)>& answer, SimReply& reply);
  std::string SnapshotJson(const std::string& nonce, SimReply& reply);
  bool KnownApplication(const std::string& clientId) const;
  bool Subscribed(const std::string& evt, const std::string& channelId) const;
  void AddChannelEvent(SimReply& reply, const std::string& channelId, const std::string& evt,
                       const std::string& data) const;
  SimHandshakeLimiter& Limiter(const std::string& clientId);

  SimScenario scenario_;
  SimAuthRegistry& auth_;
  bool handshaken_ = false;
  bool readyQueued_ = false;
  bool authenticated_ = false;
  std::string clientId_;
  std::set<std::pair<std::string, std::string>> subscriptions_;  // evt, channel id ("" for global)
  std::map<std::string, SimHandshakeLimiter> limiters_;           // by client id
  int messageFetches_ = 0;  // web API requests a call's snapshots cost
  size_t nextStep_ = 0;
};

// A JSON string literal with its quotes.
std::string JsonQuote(const std::string& text);
// A voice_states element as Discord writes it: keys in its order, nick
// filled with the name it shows.
std::string VoiceStateJson(const SimMember& member);
