// One member of the selected voice channel, as the RPC client reports it and
// the overlay draws it.
#pragma once

#include <cstdint>
#include <string>

struct VoiceUser {
  std::wstring id;
  std::wstring username;
  std::wstring displayName;
  std::wstring avatarHash;
  bool speaking = false;
  bool muted = false;
  bool deafened = false;
  bool bot = false;
  uint32_t joinTick = 0;  // the overlay's entry-animation start; 0 = full size

  bool operator==(const VoiceUser& other) const {
    return id == other.id && username == other.username && displayName == other.displayName &&
           avatarHash == other.avatarHash && speaking == other.speaking && muted == other.muted &&
           deafened == other.deafened && bot == other.bot && joinTick == other.joinTick;
  }
};
