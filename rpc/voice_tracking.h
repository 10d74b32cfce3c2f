// The selected voice channel's members, rebuilt from snapshots
// (GET_SELECTED_VOICE_CHANNEL answers) and changed by voice events. Works on
// parsed messages and a member list only, so every rule can be tested natively.
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
