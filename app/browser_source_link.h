// Between the program and the browser source's server: started and stopped
// by the setting, fed on the user-interface thread with what the overlay
// holds (the one place that turns the overlay's members into the page's).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/voice_source.h"
#include "app/voice_user.h"

class BrowserSourceServer;
struct NotificationData;

extern std::unique_ptr<BrowserSourceServer> g_browserSource;

// Starts or stops the server as g_config.browser_source_enabled says.
void ApplyBrowserSourceSetting();
// The port served; 0 while the pages are off.
uint16_t BrowserSourcePort();
// "http://127.0.0.1:PORT/voice"; empty while the pages are off.
std::wstring BrowserSourceUrl();
// The overlay's members (humans first, then bots), as they stand now; does
// nothing while no voice page listens.
void PublishBrowserVoice(const std::vector<VoiceUser>& members, const std::string& selfId, VoiceSource source);
void PublishBrowserCard(const NotificationData& card);
