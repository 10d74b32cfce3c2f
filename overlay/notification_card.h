// Notification cards: where Render stacks them, and DrawNotificationEx, which
// draws one card.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "overlay/overlay_notification.h"

// Stacks and draws every held card (oldest nearest the screen edge).
void DrawNotificationCards(HDC frameDc, int windowWidth, int windowHeight,
                           const std::vector<OverlayNotification>& notifications);

void DrawNotificationEx(HDC frameDc, int y, int windowWidth, const std::wstring& displayName,
                        const std::wstring& content, const std::wstring& channelLine, const std::wstring& userId,
                        const std::wstring& avatarHash, float alpha, float slideIn);
