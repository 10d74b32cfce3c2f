// What the overlay draws with: GDI+, the fonts, the avatar cache and the
// picture-in-picture capture, one process-wide instance between
// RendererInitialize and RendererShutdown; and the drawing of the placed
// items, into the frame a draw context names.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "overlay/avatar_cache.h"
#include "overlay/frame_buffer.h"
#include "overlay/frame_layout.h"
#include "overlay/gdiplus_headers.h"
#include "overlay/notification_card.h"
#include "overlay/pip_capture.h"
#include "overlay/text_painter.h"

struct Renderer {
  GdiplusSession gdiplus;
  uint32_t endFrameCount = 0;  // frames pushed since start
  AvatarCache avatars;
  PipCapture pip;
  // Every name and message (labels, initials, cards).
  TextPainter text;
  CardTextCache cardText;

  Renderer() = default;
  ~Renderer();
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  // GDI+, the avatar cache and the fonts; false when GDI+ does not start.
  bool Start();
  // Once per frame: keeps the kept text layouts bounded.
  void TrimCaches();
  // Size of a text's layout box (kept with its layout); zero without a font.
  TextExtent MeasureText(const std::wstring& text, float points, bool bold);
  // A card's content as the card shows it, cut once per text and size.
  std::wstring CutContent(const std::wstring& content, const CardTextLine& line, float maxWidth);
  // Laying out asks these of this renderer: loaded avatars (asking starts
  // a download), text sizes, content cuts.
  LayoutProbes Probes();
  // True when the window took the frame; x, y: the screen position of window
  // coordinates 0, 0. With dirty (window coordinates), only that part of the
  // window's picture is replaced.
  bool EndFrame(const FrameBuffer& frame, HWND window, int x, int y, const PixelRect* dirty = nullptr);
};

Renderer& GetRenderer();
bool RendererInitialize();
void RendererShutdown();

// Where an item is drawn: into frame, within clip (window coordinates;
// empty: the whole frame), under the frame's settings.
struct DrawContext {
  Renderer& renderer;
  FrameBuffer& frame;
  PixelRect clip;
  const DrawSettings& settings;
};

// The item as laid out; each kind draws where its placing put it.
void DrawItem(const DrawContext& context, const FrameItem& item);
void DrawTile(const DrawContext& context, const TileItem& tile);
void DrawCard(const DrawContext& context, const CardItem& card);  // notification_card.cpp
void DrawPip(const DrawContext& context, const PipItem& pip);     // pip_capture.cpp

// Cached avatar for the user, or null (a download is then started when the
// hash is not empty). Valid for the current frame only.
Gdiplus::Image* GetAvatar(const AvatarSource& source);

void DrawRoundedRect(Gdiplus::Graphics& graphics, float x, float y, float width, float height, float radius,
                     Gdiplus::ARGB fill, Gdiplus::ARGB outline, float outlineWidth = 2.0f);

// A graphics object on the context's frame with the renderer's smoothing,
// text hint and interpolation settings, drawing in window coordinates within
// the clip; null while the frame has no pixels.
std::unique_ptr<Gdiplus::Graphics> CreateFrameGraphics(const DrawContext& context);

// The text with its layout box's top-left at (x, y) on the context's frame,
// within its clip; a silhouette draws colour glyphs in the ink too.
void DrawFrameText(const DrawContext& context, const std::wstring& text, float points, bool bold, int x, int y,
                   Gdiplus::ARGB ink, bool silhouette = false);
// Centred in the box (window coordinates).
void DrawFrameTextCentred(const DrawContext& context, const std::wstring& text, float points, bool bold,
                          const PixelRect& box, Gdiplus::ARGB ink, bool silhouette = false);

// ARGB from an alpha expression (truncated, kept within 0..255) and an RGB value.
Gdiplus::ARGB MakeArgb(float alpha, uint32_t rgb);
