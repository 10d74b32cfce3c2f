// Between the program and the browser source's server: started and stopped
// by the setting, fed on the user-interface thread with what the overlay
// holds (the one place that turns the overlay's members into the page's).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/voice_source.h"
#include "app/voice_user.h"

struct NotificationData;

// Starts or stops the server as the settings' browser_source_enabled says.
void ApplyBrowserSourceSetting();
// The port served; 0 while the pages are off.
uint16_t BrowserSourcePort();
// "http://127.0.0.1:PORT/voice"; empty while the pages are off.
std::wstring BrowserSourceUrl();
// The overlay's members (humans first, then bots), as they stand now; does
// nothing while no voice page listens.
void PublishBrowserVoice(const std::vector<VoiceUser>& members, const std::string& selfId, VoiceSource source);
void PublishBrowserCard(const NotificationData& card);
