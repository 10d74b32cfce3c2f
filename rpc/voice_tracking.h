// The selected voice channel's members, rebuilt from snapshots
// (GET_SELECTED_VOICE_CHANNEL answers) and changed by voice events. Works on
// payload bytes and a member list only, so every rule can be tested natively.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "rpc/voice_user.h"

// Receives one log message (bytes, without prefix).
using VoiceLog = std::function<void(const std::string&)>;

enum class SnapshotStatus {
  ErrorCode,       // an error answer; the list stays
  NoData,          // no data member; the list stays
  NotInChannel,    // data is null; the list empties
  NoVoiceStates,   // no voice_states member; the list stays
  NoMemberArray,   // voice_states without an array; the list stays, silently
  Members,         // users holds the new list
};

struct VoiceSnapshot {
  SnapshotStatus status = SnapshotStatus::NoData;
  std::string errorCode;
  std::string channelId;  // set from NoVoiceStates on
  std::vector<VoiceUser> users;
};

VoiceSnapshot ParseVoiceSnapshot(const std::string& payload);
// One voice_states element as a member; none without a user object or id.
std::optional<VoiceUser> ParseVoiceState(const std::string& element);
// The "Added user: " log message for a member taken from a snapshot.
std::string AddedUserMessage(const VoiceUser& user);
// A snapshot knows nothing of speaking: each member keeps the flag of the
// first old entry with its id; new members start silent.
void CarrySpeakingFlags(const std::vector<VoiceUser>& previous, std::vector<VoiceUser>& fresh);
// A lost connection ends every SPEAKING_START it delivered. Returns whether
// any flag was set.
bool ClearSpeakingFlags(std::vector<VoiceUser>& users);

// Applies one VOICE_STATE_* or SPEAKING_* event to users, logging as it goes.
// Returns whether the list must be handed to the callback.
bool ApplyVoiceEvent(const std::string& payload, std::vector<VoiceUser>& users, const VoiceLog& log);

struct ChatMessage {
  std::string author;  // user name, UTF-8
  std::string text;    // raw JSON string content
};
// A MESSAGE_CREATE event with both an author name and a text.
std::optional<ChatMessage> ParseMessageCreate(const std::string& payload);
