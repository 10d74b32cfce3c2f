// Notification cards: the card of a slot of the stack, and DrawNotificationEx,
// which draws one card.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "overlay/overlay_notification.h"

// Card contents already cut to the card's width, for one content size:
// measuring the cut, one text width per removed character, is the dearest
// part of a card, and the same text at the same size always cuts the same.
struct CardTextCache {
  float points = 0.0f;
  std::map<std::wstring, std::wstring> fitted;  // content -> what the card shows
};

// The card of that slot of the stack (0: oldest, nearest the edge).
void DrawNotificationCard(HDC frameDc, int windowWidth, int windowHeight, const OverlayNotification& card,
                          size_t slot);

void DrawNotificationEx(HDC frameDc, int y, int windowWidth, const std::wstring& displayName,
                        const std::wstring& content, const std::wstring& channelLine, const std::wstring& userId,
                        const std::wstring& avatarHash, float alpha, float slideIn);
