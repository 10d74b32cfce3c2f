// The overlay: borderless, topmost, click-through popups with per-pixel
// alpha over one monitor, one for each member tile, one for the notification
// cards and one for the picture-in-picture, each only as big as what it shows
// and hidden while it shows nothing. Holding Ctrl+Alt makes the member
// windows take the mouse so the column can be dragged.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "app/config.h"
#include "app/voice_user.h"
#include "app/win_handles.h"
#include "overlay/frame_buffer.h"
#include "overlay/frame_layout.h"
#include "overlay/monitor_choice.h"
#include "overlay/overlay_notification.h"
#include "overlay/overlay_state.h"
#include "overlay/renderer.h"

// A still member tile or a card at full alpha as drawn, the size of its
// rectangle; blended wherever the item stands.
struct KeptPicture {
  bool held = false;        // frame holds item drawn under settings
  DrawSettings settings{};
  FrameItem item;           // its look, avatar and rectangle's size pick the picture
  FrameBuffer frame;
  uint64_t lastUse = 0;
};

// One of the overlay's windows (PaneOf tells which items it holds).
struct OverlayPane {
  WindowHandle window;
  HWND Hwnd() const { return window.Get(); }
  FrameBuffer frame;      // the window's picture, unless a kept one is pushed instead
  PixelRect part;         // of the monitor the window covers; empty: hidden
  FrameLayout pushed;     // of the picture the window holds; not valid: none
  bool shown = false;
  // A member's last two tiles, so a ring that comes and goes is copied, not
  // drawn again; every held card and the next, so a card that slides or
  // moves up the stack is copied too.
  std::deque<KeptPicture> pictures;  // in place: a frame buffer does not move
};

class OverlayWindow {
 public:
  // Draws with it; it outlives the overlay.
  Renderer& renderer;
  // The kinds' panes from Create on; a member tile's when first drawn. A
  // deque keeps each pane in place as more are added.
  std::deque<OverlayPane> panes;
  HINSTANCE instance = nullptr;
  bool visible = true;
  // The monitor; the items' window coordinates count from its corner.
  int x = 0;
  int y = 0;
  int width = 0;   // primary screen until Create picks the monitor
  int height = 0;
  // The monitor's DPI: every size and place drawn is the settings' 96-DPI
  // value times dpi / 96.
  UINT dpi = 96;
  // The device of the configured monitor once it was found: followed across
  // display changes, to which the overlay returns when it comes back.
  std::wstring followedMonitor;
  int configuredMonitor = 0;  // the setting followedMonitor belongs to
  bool placed = false;        // on a monitor once, and so logged
  bool dragMode = false;
  bool dragging = false;
  POINT dragStartCursor = {0, 0};
  int dragStartX = 0;
  int dragStartY = 0;
  OverlayState state;  // members and cards
  // Set when the members or the cards were replaced or added to, cleared by
  // Render: the main loop draws such a change without waiting for its cadence.
  bool stateChanged = false;

  explicit OverlayWindow(Renderer& drawingWith);
  ~OverlayWindow();
  OverlayWindow(const OverlayWindow&) = delete;
  OverlayWindow& operator=(const OverlayWindow&) = delete;

  // True when the windows exist; each shows once it has something to show.
  bool Create(HINSTANCE moduleInstance);
  bool Created() const { return !panes.empty() && panes[0].Hwnd() != nullptr; }
  // The first member's: it takes the mouse capture of a drag.
  HWND MemberWindow() const { return Created() ? panes[0].Hwnd() : nullptr; }
  // Covers the monitor the configuration and the displays of the moment
  // choose: on WM_DISPLAYCHANGE and whenever the settings change.
  void PlaceOnMonitor();
  // WM_DPICHANGED: the monitor's scale is now this; everything is laid anew.
  void SetDpi(UINT newDpi);
  float Scale() const { return static_cast<float>(dpi) / 96.0f; }
  void Show();
  void Toggle();
  // Back above any window that made itself topmost since.
  void KeepOnTop();
  // On every key change: Ctrl+Alt held turns drag mode on. True when the
  // mode changed.
  bool UpdateDragMode();
  // The same from key states the caller tracks (raw input).
  bool SetDragMode(bool mode);
  void EndDrag();
  void BeginDrag();
  void DragTo(POINT cursor);

  void SetVoiceUsers(const std::vector<VoiceUser>& list);
  // One member's ring: only that tile is drawn again.
  void SetSpeaking(const std::string& id, bool speaking);
  void SetSelfId(const std::string& id);
  void AddNotification(const OverlayNotification& record);
  void AddMessageNotification(const std::wstring& sender, const std::wstring& text);
  // How long the window's picture may stay as it is: 0 when a change waits
  // to be drawn or something moves (drag mode included), the time to the
  // next card fade, capture or avatar retry otherwise; kNoChange while
  // hidden or at rest.
  uint32_t MsUntilPictureChanges(uint32_t now) const;
  // Once per frame, right before Render.
  void Update();
  // Lays the frame out once, then draws and pushes, window by window, the
  // part whose picture differs from the one the window holds, and hides a
  // window left empty; nothing while hidden. True when it drew and pushed or
  // hid a window.
  bool Render();
  // The next Render draws and pushes even if nothing changed.
  void Invalidate();

 private:
  bool AddPane();
  // The settings as drawn on this monitor.
  DrawSettings FrameSettings(const Config& settings) const;
  bool RenderPane(OverlayPane& pane, FrameLayout part, bool fitted);
  void DrawPaneItem(OverlayPane& pane, const DrawContext& context, const FrameItem& item);
  KeptPicture* KeptItem(OverlayPane& pane, const DrawSettings& settings, const FrameItem& item);
  KeptPicture* FillingPicture(OverlayPane& pane, const FrameLayout& part, const PixelRect& place);

  uint64_t pictureUses = 0;
};

// Finds its overlay through GWLP_USERDATA, given at creation.
LRESULT CALLBACK OverlayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void LogOverlay(const std::wstring& text);

// The system's monitors in its enumeration order, which config.json's
// monitor number counts.
std::vector<DisplayMonitor> ListMonitors();
