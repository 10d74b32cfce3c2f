// Notification cards: the cut contents a renderer keeps for them. DrawCard
// (renderer.h) draws a placed card.
#pragma once

#include <map>
#include <string>

// Card contents already cut to the card's width, for one content size:
// measuring the cut, one text width per removed character, is the dearest
// part of a card, and the same text at the same size always cuts the same.
struct CardTextCache {
  float points = 0.0f;
  std::map<std::wstring, std::wstring> fitted;  // content -> what the card shows
};
