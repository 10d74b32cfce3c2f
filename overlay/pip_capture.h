// Picture-in-picture: finds a screen-share window (or one whose title holds
// the configured text), captures it with PrintWindow at most every 100 ms and
// draws it into the frame.
#pragma once

#include <windows.h>

#include <cstdint>

struct PipCapture {
  HWND pipWindow = nullptr;
  uint32_t lastSearchTick = 0;
  uint32_t lastCaptureTick = 0;
  HBITMAP pipBitmap = nullptr;
  int capturedWidth = 0;
  int capturedHeight = 0;

  // Draws into frameDc (the renderer's frame), after the cards.
  void Draw(HDC frameDc, int x, int y, int width, int height, float opacity);
};

BOOL CALLBACK FindPipWindowProc(HWND window, LPARAM record);
