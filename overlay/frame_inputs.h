// Everything that decides the pixels of an overlay frame, flattened into one
// comparable signature: when the next frame's signature equals the one of the
// frame last pushed, the window already shows that picture and the frame can
// be skipped. No platform calls; the caller says which avatars are loaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/config.h"
#include "overlay/overlay_state.h"

constexpr int kMemberColumnGap = 8;  // pixels between full-size member slots

// The window and picture-in-picture facts a frame depends on.
struct FrameView {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool dragMode = false;
  bool pipShown = false;        // a capture is drawn this frame
  uint32_t pipGeneration = 0;   // changes with every new capture
};

// True when the user's avatar image would be drawn (the query may start its
// download, as drawing would).
using AvatarShown = std::function<bool(const std::wstring& userId, const std::wstring& avatarHash)>;

using FrameSignature = std::vector<uint32_t>;

// Members, cards with their animation state, the settings drawing reads and
// the view. Members whose slot starts below the frame are left out: they are
// not drawn.
FrameSignature SignFrame(const OverlayState& state, const Config& config, const FrameView& view, uint32_t now,
                         const AvatarShown& avatarShown);

// How many members of the column have their slot start within the frame.
size_t MembersOnScreen(size_t count, int32_t overlayY, int32_t avatarSize, int frameHeight);
