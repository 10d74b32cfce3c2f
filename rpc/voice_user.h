// One member of the selected voice channel, as the RPC client or the plugin's
// feed reports it and the overlay draws it.
#pragma once

#include <cstdint>
#include <string>

struct VoiceUser {
  std::wstring id;
  std::wstring username;
  std::wstring displayName;
  std::wstring avatarHash;
  // The member's picture for this server, where they set one (the plugin's
  // feed knows it; Discord's RPC does not say).
  std::wstring guildId;
  std::wstring guildAvatarHash;
  bool speaking = false;
  bool muted = false;
  bool deafened = false;
  bool bot = false;
  uint32_t joinTick = 0;  // the overlay's entry-animation start; 0 = full size

  bool operator==(const VoiceUser& other) const {
    return id == other.id && username == other.username && displayName == other.displayName &&
           avatarHash == other.avatarHash && guildId == other.guildId && guildAvatarHash == other.guildAvatarHash &&
           speaking == other.speaking && muted == other.muted &&
           deafened == other.deafened && bot == other.bot && joinTick == other.joinTick;
  }
};
