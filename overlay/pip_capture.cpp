#include "overlay/pip_capture.h"

#include <algorithm>
#include <memory>

#include "app/config.h"
#include "app/win_handles.h"
#include "overlay/pip_match.h"
#include "overlay/renderer.h"

#ifndef PW_RENDERFULLCONTENT
#define PW_RENDERFULLCONTENT 0x00000002
#endif

namespace {

constexpr uint32_t kSearchIntervalMs = 2000;
constexpr uint32_t kCaptureIntervalMs = 100;
constexpr int kTextUnits = 256;
constexpr float kFrameRadius = 10.0f;
constexpr uint32_t kFrameFillRgb = 0x202225;
constexpr uint32_t kFrameOutlineRgb = 0x5865F2;

// pip_opacity is stored as read; beyond 0..1 the alpha byte would wrap.
float ClampOpacity(float opacity) { return opacity > 0.0f ? std::min(opacity, 1.0f) : 0.0f; }

void SetAlphaBytes(void* pixels, int width, int height, uint8_t alpha) {
  auto* bytes = static_cast<uint8_t*>(pixels);
  size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  for (size_t i = 0; i < count; ++i) bytes[i * 4 + 3] = alpha;
}

}  // namespace

BOOL CALLBACK FindPipWindowProc(HWND window, LPARAM record) {
  auto* search = reinterpret_cast<PipSearch*>(record);
  // A minimized window has no client area to show.
  if (!IsWindowVisible(window) || IsIconic(window)) return TRUE;
  wchar_t title[kTextUnits] = {};
  int titleLength = GetWindowTextW(window, title, kTextUnits);
  if (titleLength <= 0) return TRUE;
  wchar_t className[kTextUnits] = {};
  int classLength = search->filter.empty() ? GetClassNameW(window, className, kTextUnits) : 0;
  if (!IsPipWindow(std::wstring(title, titleLength), std::wstring(className, std::max(classLength, 0)),
                   search->filter))
    return TRUE;
  search->found = window;
  return FALSE;
}

PipCapture::~PipCapture() { Release(); }

void PipCapture::Release() {
  pipBitmap.Reset();
}

void PipCapture::Search(const std::wstring& titleFilter, uint32_t now) {
  PipSearch search;
  search.filter = titleFilter;
  EnumWindows(FindPipWindowProc, reinterpret_cast<LPARAM>(&search));
  // Another window's last capture must not stand in for the new one.
  if (search.found != pipWindow) Release();
  pipWindow = search.found;
  lastSearchTick = now;
}

void PipCapture::Capture(int clientWidth, int clientHeight, uint8_t alpha, uint32_t now) {
  Release();
  {
    WindowDc windowDc(pipWindow);
    MemoryDc memoryDc(CreateCompatibleDC(windowDc.Get()));
    void* pixels = nullptr;
    if (memoryDc) pipBitmap.Reset(CreateTopDownBitmap(memoryDc.Get(), clientWidth, clientHeight, &pixels));
    if (pipBitmap) {
      Selection selected(memoryDc.Get(), pipBitmap.Get());
      PrintWindow(pipWindow, memoryDc.Get(), PW_CLIENTONLY | PW_RENDERFULLCONTENT);
      GdiFlush();  // the pixels are touched directly below
      SetAlphaBytes(pixels, clientWidth, clientHeight, alpha);
    }
  }
  capturedWidth = clientWidth;
  capturedHeight = clientHeight;
  lastCaptureTick = now;
  ++captureCount;
}

bool PipCapture::Refresh(const std::wstring& titleFilter, float opacity) {
  uint32_t now = tick();
  if (!pipWindow || !IsWindow(pipWindow) || now - lastSearchTick > kSearchIntervalMs) Search(titleFilter, now);
  RECT client = {};
  if (!pipWindow || !GetClientRect(pipWindow, &client) || client.right <= 0 || client.bottom <= 0) return false;
  if (!pipBitmap || now - lastCaptureTick > kCaptureIntervalMs)
    Capture(client.right, client.bottom, static_cast<uint8_t>(ClampOpacity(opacity) * 255.0f), now);
  return static_cast<bool>(pipBitmap);
}

uint32_t PipCapture::MsUntilRefresh(uint32_t now) const {
  uint32_t last = pipWindow ? lastCaptureTick : lastSearchTick;
  uint32_t interval = (pipWindow ? kCaptureIntervalMs : kSearchIntervalMs) + 1;
  uint32_t elapsed = now - last;
  return elapsed >= interval ? 0 : interval - elapsed;
}

void PipCapture::DrawCapture(const DrawContext& context, int x, int y, int width, int height, float opacity) const {
  if (!pipBitmap) return;
  std::unique_ptr<Gdiplus::Graphics> graphics = CreateFrameGraphics(context);
  if (!graphics) return;
  opacity = ClampOpacity(opacity);
  const float scale = context.settings.display_scale;
  const float inset = static_cast<float>(kPipFrameInset) * scale;
  DrawRoundedRect(*graphics, static_cast<float>(x) - inset, static_cast<float>(y) - inset,
                  static_cast<float>(width) + 2.0f * inset, static_cast<float>(height) + 2.0f * inset,
                  kFrameRadius * scale, MakeArgb(opacity * 200.0f, kFrameFillRgb), MakeArgb(opacity * 180.0f, kFrameOutlineRgb),
                  kPipOutlinePen * scale);
  Gdiplus::Bitmap picture(pipBitmap.Get(), nullptr);
  Gdiplus::ColorMatrix matrix = {{{1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 1, 0, 0}, {0, 0, 0, 1, 0}, {0, 0, 0, 0, 1}}};
  matrix.m[3][3] = opacity;
  Gdiplus::ImageAttributes attributes;
  attributes.SetColorMatrix(&matrix);
  // Stretched to the configured rectangle; the source's aspect is not kept.
  graphics->DrawImage(&picture, Gdiplus::Rect(x, y, width, height), 0, 0, capturedWidth, capturedHeight,
                      Gdiplus::UnitPixel, &attributes);
}

void PipCapture::Draw(const DrawContext& context, int x, int y, int width, int height, float opacity,
                      const std::wstring& titleFilter) {
  if (Refresh(titleFilter, opacity)) DrawCapture(context, x, y, width, height, opacity);
}

void DrawPip(const DrawContext& context, const PipItem& item) {
  const PixelRect& r = item.frame;
  context.renderer.pip.DrawCapture(context, r.left, r.top, r.right - r.left, r.bottom - r.top,
                                   context.settings.pip_opacity);
}
