// One member of the selected voice channel, as Discord's RPC or the plugin's
// feed reports it: a plain record. How the overlay animates a member is the
// overlay's own state.
#pragma once

#include <string>

struct VoiceUser {
  std::string id;  // Discord's user id (UTF-8 digits), the key everywhere
  std::wstring username;
  std::wstring displayName;
  std::wstring avatarHash;
  // The member's picture for this server, where they set one (the plugin's
  // feed knows it; Discord's RPC does not say).
  std::wstring guildId;
  std::wstring guildAvatarHash;
  bool speaking = false;
  bool muted = false;      // by themselves or the server, as Discord's list shows it
  bool deafened = false;
  bool bot = false;
  bool localMute = false;  // muted by the user, for the user alone
  bool live = false;       // streaming (Go Live); the plugin alone knows it
  bool video = false;      // camera on; likewise

  // Defined once, in voice_user.cpp: every list of members copies, moves and
  // compares records, and six strings each, inlined everywhere, cost the
  // executable tens of kilobytes.
  VoiceUser();
  VoiceUser(const VoiceUser& other);
  VoiceUser(VoiceUser&& other) noexcept;
  VoiceUser& operator=(const VoiceUser& other);
  VoiceUser& operator=(VoiceUser&& other) noexcept;
  ~VoiceUser();
  bool operator==(const VoiceUser& other) const;
  bool operator!=(const VoiceUser& other) const { return !(*this == other); }
};

// The name shown for a member everywhere: their display name, else their
// username.
inline const std::wstring& ShownName(const VoiceUser& member) {
  return member.displayName.empty() ? member.username : member.displayName;
}
