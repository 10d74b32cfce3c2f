#include "app/voice_user.h"

VoiceUser::VoiceUser() = default;
VoiceUser::VoiceUser(const VoiceUser& other) = default;
VoiceUser::VoiceUser(VoiceUser&& other) noexcept = default;
VoiceUser& VoiceUser::operator=(const VoiceUser& other) = default;
VoiceUser& VoiceUser::operator=(VoiceUser&& other) noexcept = default;
VoiceUser::~VoiceUser() = default;

bool VoiceUser::operator==(const VoiceUser& o) const {
  return id == o.id && username == o.username && displayName == o.displayName && avatarHash == o.avatarHash &&
         guildId == o.guildId && guildAvatarHash == o.guildAvatarHash && speaking == o.speaking &&
         muted == o.muted && deafened == o.deafened && bot == o.bot && localMute == o.localMute && live == o.live &&
         video == o.video;
}
