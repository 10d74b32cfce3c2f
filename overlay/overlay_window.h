// The overlay window: a borderless, topmost, click-through popup with
// per-pixel alpha over one whole monitor, into which the renderer draws the
// member column and the notification cards. Holding Ctrl+Alt makes it take
// the mouse so the member column can be dragged.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "overlay/frame_inputs.h"
#include "overlay/overlay_notification.h"
#include "overlay/overlay_state.h"
#include "rpc/voice_user.h"

class OverlayWindow {
 public:
  HWND hwnd = nullptr;
  HINSTANCE instance = nullptr;
  bool visible = true;
  int x = 0;
  int y = 0;
  int width = 0;   // primary screen until Create picks the monitor
  int height = 0;
  bool dragMode = false;
  bool dragging = false;
  POINT dragStartCursor = {0, 0};
  int dragStartX = 0;
  int dragStartY = 0;
  OverlayState state;  // members and cards
  // Set when the members or the cards were replaced or added to, cleared by
  // Render: the main loop draws such a change without waiting for its cadence.
  bool stateChanged = false;
  FrameSignature pushedSignature;  // of the picture the window holds; not valid: none

  OverlayWindow();
  ~OverlayWindow();
  OverlayWindow(const OverlayWindow&) = delete;
  OverlayWindow& operator=(const OverlayWindow&) = delete;

  // True when the window exists and has been shown.
  bool Create(HINSTANCE moduleInstance);
  void Show();
  void Toggle();
  // On every key change: Ctrl+Alt held turns drag mode on. True when the
  // mode changed.
  bool UpdateDragMode();
  // The same from key states the caller tracks (raw input).
  bool SetDragMode(bool mode);
  void EndDrag();
  void BeginDrag();
  void DragTo(POINT cursor);

  void SetVoiceUsers(const std::vector<VoiceUser>& list);
  void AddNotification(const OverlayNotification& record);
  void AddMessageNotification(const std::wstring& sender, const std::wstring& text);
  // How long the window's picture may stay as it is: 0 when a change waits
  // to be drawn or something moves (drag mode included), the time to the
  // next card fade or capture otherwise; kNoChange while hidden or at rest.
  uint32_t MsUntilPictureChanges(uint32_t now) const;
  // Once per frame, right before Render.
  void Update();
  // Draws and pushes the part of the frame whose picture differs from the
  // one the window holds; nothing while hidden. True when it drew and pushed.
  bool Render();
  // The next Render draws and pushes even if nothing changed.
  void Invalidate() { pushedSignature = FrameSignature(); }
};

// Set at WM_CREATE; the window procedure finds its object through it.
extern OverlayWindow* g_wndProcOverlay;

LRESULT CALLBACK OverlayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void LogOverlay(const std::wstring& text);
