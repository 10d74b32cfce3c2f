// The frame renderer: GDI+, the frame it draws into, the avatar cache and the
// picture-in-picture state, one process-wide instance.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/config.h"
#include "overlay/avatar_cache.h"
#include "overlay/frame_buffer.h"
#include "overlay/frame_inputs.h"
#include "overlay/gdiplus_headers.h"
#include "overlay/notification_card.h"
#include "overlay/pip_capture.h"
#include "overlay/text_painter.h"

struct VoiceUser;
struct MemberTile;

struct Renderer {
  GdiplusSession gdiplus;
  // The settings drawing reads: the overlay takes this snapshot of the effective settings
  // once per frame and signs the frame with it.
  Config settings;
  // Drawing goes to *frame: the overlay points it at the frame of the window
  // it draws, else it is scratch (tests and benchmarks).
  FrameBuffer scratch;
  FrameBuffer* frame = &scratch;
  uint32_t endFrameCount = 0;  // frames pushed since start
  AvatarCache avatars;
  PipCapture pip;
  // Every name and message (labels, initials, cards).
  TextPainter text;
  CardTextCache cardText;
  // Drawing is kept to this part of the frame, in window coordinates (every
  // graphics object from CreateFrameGraphics is clipped to it); empty: the
  // whole frame.
  PixelRect clip;

  // The whole frame, at that size, cleared; drawing unclipped.
  void BeginFrame(int width, int height);
  // Only that part (window coordinates) cleared, and drawing clipped to it;
  // the rest of the frame keeps the picture last drawn.
  void BeginPartialFrame(const PixelRect& dirty);
  // Once per frame: keeps the kept text layouts bounded.
  void TrimCaches();
  // The member column at overlay_x, overlay_y; now drives the entry animation.
  void DrawMembers(const std::vector<MemberTile>& users, uint32_t now);
  void DrawMember(size_t slot, const MemberTile& member, uint32_t now);
  void DrawUser(int x, int y, int size, const VoiceUser& member, const std::wstring& name, float scale);
  // Size of a text's layout box (kept with its layout); zero without a font.
  TextExtent MeasureText(const std::wstring& text, float points, bool bold);
  // True when the window took the frame; x, y: the screen position of window
  // coordinates 0, 0. With dirty (window coordinates), only that part of the
  // window's picture is replaced.
  bool EndFrame(HWND window, int x, int y, const PixelRect* dirty = nullptr);
  // The last picture-in-picture capture (PipCapture::Refresh ran this frame).
  void DrawPip(int x, int y, int width, int height, float opacity);
};

Renderer& GetRenderer();
bool RendererInitialize();
void RendererShutdown();

// Cached avatar for the user, or null (a download is then started when the
// hash is not empty). Valid for the current frame only.
Gdiplus::Image* GetAvatar(const AvatarSource& source);
Gdiplus::Image* GetAvatar(const std::wstring& userId, const std::wstring& avatarHash);

void DrawRoundedRect(Gdiplus::Graphics& graphics, float x, float y, float width, float height, float radius,
                     Gdiplus::ARGB fill, Gdiplus::ARGB outline, float outlineWidth = 2.0f);

// A graphics object on the frame with the renderer's smoothing, text hint and
// interpolation settings, drawing in window coordinates; null while there is
// no frame.
std::unique_ptr<Gdiplus::Graphics> CreateFrameGraphics(HDC frameDc);

// The text with its layout box's top-left at (x, y) on the current frame,
// within the frame's clip; a silhouette draws colour glyphs in the ink too.
void DrawFrameText(const std::wstring& text, float points, bool bold, int x, int y, Gdiplus::ARGB ink,
                   bool silhouette = false);
// Centred in the box (window coordinates).
void DrawFrameTextCentred(const std::wstring& text, float points, bool bold, const PixelRect& box, Gdiplus::ARGB ink,
                          bool silhouette = false);

// ARGB from an alpha expression (truncated, kept within 0..255) and an RGB value.
Gdiplus::ARGB MakeArgb(float alpha, uint32_t rgb);
