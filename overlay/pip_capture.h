// Picture-in-picture: finds a screen-share window (or one whose title holds
// the configured text), captures it with PrintWindow at most every 100 ms and
// draws it into the frame.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "app/win_handles.h"

struct DrawContext;

struct PipCapture {
  HWND pipWindow = nullptr;
  uint32_t lastSearchTick = 0;
  uint32_t lastCaptureTick = 0;
  BitmapHandle pipBitmap;
  int capturedWidth = 0;
  int capturedHeight = 0;
  uint32_t captureCount = 0;  // grows with every capture: a new picture to show
  // The millisecond tick; tests replace it to step through the timing.
  std::function<uint32_t()> tick = [] { return static_cast<uint32_t>(GetTickCount()); };

  PipCapture() = default;
  PipCapture(const PipCapture&) = delete;
  PipCapture& operator=(const PipCapture&) = delete;
  ~PipCapture();

  // Searches and captures when due; true when there is a picture to draw.
  // titleFilter empty: the built-in screen-share rule.
  bool Refresh(const std::wstring& titleFilter, float opacity);
  // Time until Refresh has something to do: the next capture while a window
  // is shown, else the next search.
  uint32_t MsUntilRefresh(uint32_t now) const;
  // Draws the last capture into the context's frame, framed; the frame's
  // inset and corners grow with the display scale.
  void DrawCapture(const DrawContext& context, int x, int y, int width, int height, float opacity) const;
  // Refresh, then DrawCapture when there is a picture.
  void Draw(const DrawContext& context, int x, int y, int width, int height, float opacity,
            const std::wstring& titleFilter);
  // Deletes the last capture.
  void Release();

 private:
  void Search(const std::wstring& titleFilter, uint32_t now);
  void Capture(int clientWidth, int clientHeight, uint8_t alpha, uint32_t now);
};

// The record passed through EnumWindows to FindPipWindowProc.
struct PipSearch {
  HWND found = nullptr;
  std::wstring filter;  // a copy of pip_window_title
};

// EnumWindows callback; record is a PipSearch*. Stops at the first match.
BOOL CALLBACK FindPipWindowProc(HWND window, LPARAM record);
