// The frame renderer: GDI+, the reused frame bitmap, the avatar cache and the
// picture-in-picture state, one process-wide instance.
#pragma once

#include <windows.h>
#include <gdiplus.h>

#include <memory>
#include <string>

#include "overlay/avatar_cache.h"
#include "overlay/pip_capture.h"

struct VoiceUser;

struct Renderer {
  ULONG_PTR gdiplusToken = 0;
  HDC frameDc = nullptr;
  HBITMAP frameBitmap = nullptr;
  HGDIOBJ previousBitmap = nullptr;
  uint32_t frameWidth = 0;
  uint32_t frameHeight = 0;
  void* framePixels = nullptr;
  AvatarCache avatars;
  PipCapture pip;

  void BeginFrame(int width, int height);
  void DrawUser(int x, int y, int size, const VoiceUser& member, const std::wstring& name, float scale);
  void EndFrame(HWND window, int x, int y);
  void DrawPip(int x, int y, int width, int height, float opacity);
};

Renderer& GetRenderer();
bool RendererInitialize();
void RendererShutdown();

// Cached avatar for the user, or null (a download is then started when the
// hash is not empty). Valid for the current frame only.
Gdiplus::Image* GetAvatar(const std::wstring& userId, const std::wstring& avatarHash);

void DrawRoundedRect(Gdiplus::Graphics& graphics, float x, float y, float width, float height, float radius,
                     Gdiplus::ARGB fill, Gdiplus::ARGB outline);

// A graphics object on the frame with the renderer's smoothing, text hint and
// interpolation settings.
std::unique_ptr<Gdiplus::Graphics> CreateFrameGraphics(HDC frameDc);

// Label text family: "Segoe UI Emoji", else "Segoe UI", else the system's
// generic sans-serif, so text always draws.
std::unique_ptr<Gdiplus::FontFamily> CreateLabelFontFamily();
// Initials: "Segoe UI", else the generic sans-serif.
std::unique_ptr<Gdiplus::FontFamily> CreateInitialFontFamily();

// ARGB from an alpha expression (truncated, low 8 bits) and an RGB value.
Gdiplus::ARGB MakeArgb(float alpha, uint32_t rgb);
