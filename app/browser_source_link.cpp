#include "app/browser_source_link.h"

#include <algorithm>

#include "app/app.h"
#include "app/config.h"
#include "app/settings_store.h"
#include "app/text_convert.h"
#include "app/work_loop.h"
#include "notify/browser_source.h"
#include "notify/browser_source_server.h"
#include "notify/notification_data.h"
#include "overlay/avatar_request.h"
#include "overlay/renderer.h"


namespace {

const char* SourceName(VoiceSource source) {
  switch (source) {
    case VoiceSource::Plugin: return "plugin";
    case VoiceSource::Rpc: return "rpc";
    case VoiceSource::None: break;
  }
  return "none";
}

// The same-origin path of a cached picture, handed to the server once; empty
// while there is none (asking the cache for it starts its download).
std::string AvatarPathOf(const AvatarSource& source) {
  if (source.avatarHash.empty()) return {};
  const std::wstring key = AvatarCacheKey(source);
  const std::string path = BrowserAvatarPath(WideToUtf8(key), WideToUtf8(source.avatarHash));
  if (path.empty()) return {};
  const std::string serverKey = WideToUtf8(key);
  if (!g_app->browserSource->HasAvatar(serverKey)) {
    AvatarCache& cache = GetRenderer().avatars;
    auto bytes = cache.EncodedBytes(key);
    if (!bytes) {
      cache.Get(source.userId, source.avatarHash, source.guildId);
      return {};
    }
    g_app->browserSource->OfferAvatar(serverKey, std::move(bytes));
  }
  return path;
}

BrowserMember BrowserMemberOf(const VoiceUser& user, const std::string& selfId, const Config& config) {
  BrowserMember member;
  member.id = user.id;
  member.name = WideToUtf8(ShownName(user));
  member.avatarPath = AvatarPathOf(MemberAvatarSource(user));
  member.speaking = user.speaking;
  member.muted = user.muted;
  member.deafened = user.deafened;
  member.bot = user.bot;
  member.live = user.live;
  member.self = !selfId.empty() && user.id == selfId;
  member.hidden = IdListContains(config.hidden_users, Utf8ToWide(user.id));
  return member;
}

}  // namespace

void ApplyBrowserSourceSetting() {
  const Config settings = g_settings.Effective();
  if (!settings.browser_source_enabled) {
    if (g_app->browserSource) g_app->browserSource->Stop();
    return;
  }
  if (!g_app->browserSource) {
    g_app->browserSource = std::make_unique<BrowserSourceServer>();
    g_app->browserSource->onVoiceStreamOpened = WakeWorkLoop;
  }
  g_app->browserSource->Start(static_cast<uint16_t>(settings.browser_source_port));
}

uint16_t BrowserSourcePort() { return g_app->browserSource ? g_app->browserSource->Port() : 0; }

std::wstring BrowserSourceUrl() {
  const uint16_t port = BrowserSourcePort();
  return port == 0 ? std::wstring() : L"http://127.0.0.1:" + std::to_wstring(port) + L"/voice";
}

void PublishBrowserVoice(const std::vector<VoiceUser>& members, const std::string& selfId, VoiceSource source) {
  if (!g_app->browserSource || !g_app->browserSource->HasVoiceStreams()) return;
  const Config config = g_settings.Effective();
  BrowserVoiceState state;
  state.source = SourceName(source);
  state.onlySpeaking = config.show_only_speaking;
  state.alwaysShowSelf = config.always_show_self;
  for (const VoiceUser& user : members) state.members.push_back(BrowserMemberOf(user, selfId, config));
  g_app->browserSource->PublishVoice(FormatVoiceStateJson(state));
}

void PublishBrowserCard(const NotificationData& data) {
  if (BrowserSourcePort() == 0) return;
  BrowserCard card;
  card.name = WideToUtf8(data.displayName);
  card.content = WideToUtf8(data.content);
  card.channel = WideToUtf8(data.channelName);
  card.server = WideToUtf8(data.serverName);
  card.avatarPath = AvatarPathOf(AvatarSource{data.userId, data.avatarHash, std::wstring()});
  card.durationMs = static_cast<uint32_t>(std::max(0, g_settings.Effective().notification_duration));
  g_app->browserSource->PublishCard(FormatCardJson(card));
}
