// The selected voice channel's members, rebuilt from snapshots
// (GET_SELECTED_VOICE_CHANNEL answers) and changed by voice events, and the
// subscriptions that bring those events. Works on parsed messages and a member
// list only, so every rule can be tested natively.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/json.h"
#include "app/voice_user.h"

// Receives one log message (bytes, without prefix).
using VoiceLog = std::function<void(const std::string&)>;

enum class SnapshotStatus {
  ErrorCode,       // an error answer; the list stays
  NoData,          // no data object; the list stays
  NotInChannel,    // data is null; the list empties
  NoVoiceStates,   // no voice_states member; the list stays
  NoMemberArray,   // voice_states without an array; the list stays, silently
  Members,         // users holds the new list
};

struct VoiceSnapshot {
  SnapshotStatus status = SnapshotStatus::NoData;
  std::string errorCode;  // the error's code as decimal text
  std::string channelId;  // set from NoVoiceStates on
  int64_t channelType = -1;
  std::vector<VoiceUser> users;
};

VoiceSnapshot ParseVoiceSnapshot(const Json& message);
// A DM (1) or group DM (3) call: Discord answers each snapshot request for
// one by fetching the channel's messages from its web API.
bool IsPrivateCall(int64_t channelType);
// One voice_states element as a member; none without a user object or id.
std::optional<VoiceUser> ParseVoiceState(const Json& element);
// The "Added user: " log message for a member taken from a snapshot.
std::string AddedUserMessage(const VoiceUser& user);
// A snapshot knows nothing of speaking: each member keeps the flag of the
// first old entry with its id; new members start silent.
void CarrySpeakingFlags(const std::vector<VoiceUser>& previous, std::vector<VoiceUser>& fresh);
// A lost connection ends every SPEAKING_START it delivered. Returns whether
// any flag was set.
bool ClearSpeakingFlags(std::vector<VoiceUser>& users);

// Whose speaking flag a SPEAKING_* event set, and to what.
struct SpeakingChange {
  std::string userId;
  bool speaking = false;
};

// Applies one VOICE_STATE_* or SPEAKING_* event to the members of channelId,
// logging as it goes. Nothing applies while no channel is selected (empty
// channelId), nor a speaking event that names another channel. Returns
// whether the list must be handed to the callback; for a speaking event that
// applied, *spoken (when given) says whose flag it was.
bool ApplyVoiceEvent(const Json& message, const std::string& channelId, std::vector<VoiceUser>& users,
                     const VoiceLog& log, SpeakingChange* spoken = nullptr);

struct ChatMessage {
  std::string author;  // user name, UTF-8
  std::string text;    // the message's content, escapes decoded
};
// A MESSAGE_CREATE event with both an author name and a text.
std::optional<ChatMessage> ParseMessageCreate(const Json& message);

// One connection's tracking of the selected channel: which channel's five
// events are subscribed, the snapshots asked for and the events applied.
// Starts once the connection is authenticated.
class VoiceTracker {
 public:
  VoiceLog log;
  std::function<int32_t()> nextNonce;
  // Sends one command; false when the connection is gone.
  std::function<bool(const std::string&)> send;
  // The list itself: copy what you keep, do not call back in.
  std::function<void(const std::vector<VoiceUser>&)> publish;
  // A speaking change alone; false when it was not taken, and the list is
  // published instead.
  std::function<bool(const std::string&, bool)> takeSpeaking;

  void Start(uint32_t now);
  void OnChannelSelected(const Json& message, uint32_t now);
  void OnSnapshot(const Json& message);
  void OnVoiceEvent(const Json& message);
  // The periodic resync: only for a server channel whose snapshot is in; for
  // a call Discord fetches the channel's messages from its web API at every
  // snapshot. 0xFFFFFFFF when none is due at all.
  uint32_t MsUntilResync(uint32_t now) const;
  void Resync(uint32_t now) { RequestSnapshot(false, now); }
  // Discord forgets a connection's subscriptions, and no SPEAKING_STOP will
  // come for the speakers it announced.
  void OnConnectionLost();

 private:
  void RequestSnapshot(bool reportInFull, uint32_t now);
  void Follow(const std::string& channelId);
  bool SendChannelEvents(const char* cmd, const std::string& channelId);
  bool RepeatsKnownChannel(VoiceSnapshot& snapshot);
  void Publish();

  std::vector<VoiceUser> users_;
  // The channel whose snapshot the list shows; events apply only while set.
  // Emptied when a channel selection changes, until its snapshot arrives.
  std::string channelId_;
  int64_t channelType_ = -1;
  // The channel whose five events are subscribed on this connection.
  std::string subscribedChannelId_;
  // The snapshots that authentication and a channel selection ask for are
  // logged and handed on even when nothing changed.
  bool reportNextSnapshot_ = false;
  uint32_t lastSnapshotRequest_ = 0;
};
