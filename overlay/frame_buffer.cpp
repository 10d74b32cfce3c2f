#include "overlay/frame_buffer.h"

HBITMAP CreateTopDownBitmap(HDC dc, int width, int height, void** pixels) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return CreateDIBSection(dc, &info, DIB_RGB_COLORS, pixels, nullptr, 0);
}

void FrameBuffer::Release() {
  image.reset();
  selected.Reset();
  bitmap.Reset();
  memory.Reset();
  pixels = nullptr;
  width = 0;
  height = 0;
}

void FrameBuffer::Prepare(int newWidth, int newHeight) {
  if (memory && newWidth >= 0 && newHeight >= 0 && static_cast<uint32_t>(newWidth) == width &&
      static_cast<uint32_t>(newHeight) == height)
    return;
  Release();
  if (newWidth <= 0 || newHeight <= 0) return;

  {
    WindowDc screen(nullptr);
    memory.Reset(CreateCompatibleDC(screen.Get()));
    bitmap.Reset(CreateTopDownBitmap(screen.Get(), newWidth, newHeight, &pixels));
  }
  if (memory && bitmap) selected = Selection(memory.Get(), bitmap.Get());
  width = static_cast<uint32_t>(newWidth);
  height = static_cast<uint32_t>(newHeight);
  if (!pixels) return;
  ZeroMemory(pixels, static_cast<size_t>(newWidth) * newHeight * 4);
  image = std::make_unique<Gdiplus::Bitmap>(newWidth, newHeight, newWidth * 4, PixelFormat32bppPARGB,
                                            static_cast<BYTE*>(pixels));
}

PixelRect FrameBuffer::Bounds() const {
  return PixelRect{originX, originY, originX + static_cast<int>(width), originY + static_cast<int>(height)};
}

PixelRect FrameBuffer::Clear(const PixelRect& area) {
  PixelRect part = Overlap(area, Bounds());
  if (!pixels || part.Empty()) return part;
  size_t rowBytes = static_cast<size_t>(part.right - part.left) * 4;
  for (int row = part.top - originY; row < part.bottom - originY; ++row)
    ZeroMemory(static_cast<BYTE*>(pixels) + (static_cast<size_t>(row) * width + (part.left - originX)) * 4, rowBytes);
  return part;
}

void FrameBuffer::Blend(const FrameBuffer& picture, const PixelRect& area) {
  PixelRect part = Overlap(Overlap(area, Bounds()), picture.Bounds());
  if (!memory || !picture.memory || part.Empty()) return;
  const int w = part.right - part.left, h = part.bottom - part.top;
  BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  GdiAlphaBlend(Dc(), part.left - originX, part.top - originY, w, h, picture.Dc(), part.left - picture.originX,
                part.top - picture.originY, w, h, blend);
}
