// A frame the overlay draws into: a top-down, premultiplied BGRA DIB section
// in a memory DC with a GDI+ view of the same pixels. Its pixel (0, 0) stands
// at origin in the overlay's window coordinates, so a frame can hold just one
// part of the window.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "app/win_handles.h"
#include "overlay/frame_layout.h"
#include "overlay/gdiplus_headers.h"

// A top-down 32-bit DIB section for dc; pixels receives its memory. Null on failure.
HBITMAP CreateTopDownBitmap(HDC dc, int width, int height, void** pixels);

struct FrameBuffer {
  // In the order they are made; Release lets go in reverse.
  MemoryDc memory;
  BitmapHandle bitmap;
  Selection selected;  // the bitmap in the DC
  uint32_t width = 0;
  uint32_t height = 0;
  void* pixels = nullptr;
  // As 32bppPARGB, so every drawing keeps alpha.
  std::unique_ptr<Gdiplus::Bitmap> image;
  int originX = 0;
  int originY = 0;

  FrameBuffer() = default;
  ~FrameBuffer() { Release(); }
  FrameBuffer(const FrameBuffer&) = delete;
  FrameBuffer& operator=(const FrameBuffer&) = delete;

  HDC Dc() const { return memory.Get(); }
  // Makes sure the bitmap has that size; a new one starts cleared.
  void Prepare(int newWidth, int newHeight);
  // What the frame holds, in window coordinates.
  PixelRect Bounds() const;
  // The frame's part of area (window coordinates) made transparent; returns
  // that part, empty when the frame holds none of it.
  PixelRect Clear(const PixelRect& area);
  // The picture's pixels blended over this frame's within area.
  void Blend(const FrameBuffer& picture, const PixelRect& area);
  void Release();
};
