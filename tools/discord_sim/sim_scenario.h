// A simulator scenario: who is where in the simulated Discord client, how it
// answers authorization, and a timeline of scripted events. Read from a
// small line-based text file (see scenarios/default.txt for the grammar).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct SimMember {
  std::string id;
  std::string username;
  std::string globalName;  // empty: null
  std::string nick;        // the server nickname; empty: none
  std::string avatar;      // empty: null
  bool bot = false;
  bool localMute = false;  // the local user's own mute of this member
  bool mute = false;       // server mute
  bool deaf = false;
  bool selfMute = false;
  bool selfDeaf = false;
};

struct SimChannel {
  std::string id;
  std::string name;
  std::string guildId;  // empty for calls
  int type = 2;         // 2 server voice channel, 1 DM call, 3 group call
  std::vector<SimMember> members;
};

enum class SimAuthorizeMode { Grant, Deny, Silent };
enum class SimAuthenticateMode { Accept, Reject };
enum class SimHandshakeMode { Answer, Silent };  // silent: the handshake is read, never answered

enum class SimStepKind {
  Speak,         // id on|off
  Mute,          // id on|off (self mute)
  Update,        // id: the member's state again, as for a volume or video change
  Deafen,        // id on|off (self deafen)
  Join,          // member spec
  Leave,         // id
  Switch,        // channel id
  LeaveChannel,  //
  Ping,          // payload
  Close,         //
  Raw,           // one opcode-1 payload, sent as it is
  Message,       // author, text (MESSAGE_CREATE)
  CutFrame,      // payload: the header and the first half only; the rest never comes
  Bytes,         // hex: bytes written as they are (broken headers, garbage)
  Drop,          // the connection ends at once, as when Discord crashes
  Restart,       // the Discord client restarts: the pipe is gone for a while, then back with a fresh state
  Stall,         // ms: the Discord client stops reading for that long (hung)
};

struct SimStep {
  SimStepKind kind = SimStepKind::Ping;
  uint32_t delayMs = 0;  // waited before the step
  std::string channel;   // "in CHANNEL_ID ...": a channel other than the selected one
  std::string target;    // member or channel id; ping, raw or cut payload; author; bytes; stall ms
  bool on = false;
  std::string text;      // message text
  SimMember member;      // join
};

struct SimScenario {
  SimMember localUser;
  std::vector<SimChannel> channels;
  std::string selectedChannel;  // empty: not in a voice channel
  SimAuthorizeMode authorize = SimAuthorizeMode::Grant;
  SimAuthenticateMode authenticate = SimAuthenticateMode::Accept;
  SimHandshakeMode handshake = SimHandshakeMode::Answer;
  // Client ids Discord knows; none listed: every id of digits.
  std::vector<std::string> applications;
  // Whether the application has a Redirect URI registered.
  bool redirectUri = true;
  // Whether Discord has approved the application for rpc and rpc.voice.read
  // (new applications are not, since April 2026).
  bool scopesApproved = true;
  // Handshakes per client id: two at once, then one per this interval.
  uint32_t handshakeIntervalMs = 30000;
  std::vector<SimStep> timeline;  // starts when a connection authenticates
  bool loop = false;

  SimChannel* FindChannel(const std::string& id);
};

// Splits on spaces; "double quoted" words may hold spaces, and \" a quote.
std::vector<std::string> SplitScenarioWords(const std::string& line);
// A whole scenario file; on failure, error names the line.
std::optional<SimScenario> ParseScenario(const std::string& text, std::string* error);
// One timeline line ("speak 1 on", "ping abc", ...), also for steps
// injected by tests.
std::optional<SimStep> ParseScenarioStep(const std::string& line, std::string* error);
