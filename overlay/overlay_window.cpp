#include "overlay/overlay_window.h"

#include <algorithm>
#include <cmath>

#include "app/config.h"
#include "app/settings_store.h"
#include "app/dpi.h"
#include "app/log.h"
#include "app/text.h"
#include "overlay/avatar_request.h"
#include "overlay/monitor_choice.h"
#include "overlay/renderer.h"

namespace {

constexpr wchar_t kClassName[] = L"VoxmereClass";
constexpr DWORD kExStyle = WS_EX_TOPMOST | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_LAYERED | WS_EX_NOACTIVATE;
constexpr DWORD kRenderLogIntervalMs = 1000;
constexpr UINT kDpiChangedMessage = 0x02E0;  // WM_DPICHANGED, Windows 8.1 on

DWORD g_lastRenderLogTick = 0;

BOOL CALLBACK AddMonitorProc(HMONITOR monitor, HDC, LPRECT, LPARAM list) {
  MONITORINFOEXW info = {};
  info.cbSize = sizeof(info);
  if (GetMonitorInfoW(monitor, &info)) {
    const RECT& r = info.rcMonitor;
    reinterpret_cast<std::vector<DisplayMonitor>*>(list)->push_back(
        {r.left, r.top, r.right, r.bottom, (info.dwFlags & MONITORINFOF_PRIMARY) != 0, info.szDevice});
  }
  return TRUE;
}

bool KeyHeld(int key) { return (GetAsyncKeyState(key) & 0x8000) != 0; }

void SetTakesMouse(HWND hwnd, bool takes) {
  LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
  if (takes)
    style &= ~static_cast<LONG_PTR>(WS_EX_TRANSPARENT);
  else
    style |= WS_EX_TRANSPARENT;
  SetWindowLongPtrW(hwnd, GWL_EXSTYLE, style);
}

// A negative duration is read as 0 rather than as about 49 days.
uint32_t CardDurationMs() { return static_cast<uint32_t>(std::max(0, g_settings.Effective().notification_duration)); }

}  // namespace

std::vector<DisplayMonitor> ListMonitors() {
  std::vector<DisplayMonitor> monitors;
  EnumDisplayMonitors(nullptr, nullptr, AddMonitorProc, reinterpret_cast<LPARAM>(&monitors));
  return monitors;
}

void LogOverlay(const std::wstring& text) { WriteLogLine(L"[Overlay] " + text); }

OverlayWindow::OverlayWindow(Renderer& drawingWith)
    : renderer(drawingWith), width(GetSystemMetrics(SM_CXSCREEN)), height(GetSystemMetrics(SM_CYSCREEN)) {}

OverlayWindow::~OverlayWindow() {
  for (auto pane = panes.rbegin(); pane != panes.rend(); ++pane) pane->window.Reset();
  UnregisterClassW(kClassName, instance);
}

bool OverlayWindow::Create(HINSTANCE moduleInstance) {
  instance = moduleInstance;
  configuredMonitor = g_settings.Effective().monitor;
  PlaceOnMonitor();

  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = OverlayWndProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kClassName;
  if (!RegisterClassExW(&wc)) return false;

  for (size_t kind = 0; kind < kPaneKinds; ++kind)
    if (!AddPane()) return false;
  Show();
  return true;
}

void OverlayWindow::PlaceOnMonitor() {
  // The settings window's draft too: a monitor chosen there shows at once.
  const int configured = g_settings.Effective().monitor;
  if (configured != configuredMonitor) {
    configuredMonitor = configured;
    followedMonitor.clear();
  }
  std::vector<DisplayMonitor> monitors = ListMonitors();
  int chosen = ChooseMonitor(monitors, configured, followedMonitor);
  if (chosen < 0) {
    LogOverlay(L"ERROR: no monitor found, the overlay covers the primary screen");
    monitors = {{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), true, L""}};
    chosen = 0;
  }
  const DisplayMonitor& monitor = monitors[static_cast<size_t>(chosen)];
  if (followedMonitor.empty() && chosen == configured) followedMonitor = monitor.device;
  const UINT monitorDpi = MonitorDpi(MonitorFromPoint(POINT{monitor.left, monitor.top}, MONITOR_DEFAULTTONEAREST));
  if (placed && x == monitor.left && y == monitor.top && width == monitor.Width() && height == monitor.Height() &&
      dpi == monitorDpi)
    return;
  placed = true;
  x = monitor.left;
  y = monitor.top;
  width = monitor.Width();
  height = monitor.Height();
  dpi = monitorDpi;
  Invalidate();  // every window moves with its next picture
  LogOverlay(L"Monitor " + MonitorLabel(monitors, chosen, L"primary") + L" at (" + std::to_wstring(x) + L", " +
             std::to_wstring(y) + L"), " + std::to_wstring(dpi) + L" DPI");
}

void OverlayWindow::SetDpi(UINT newDpi) {
  if (newDpi == 0 || newDpi == dpi) return;
  dpi = newDpi;
  Invalidate();
  stateChanged = true;  // drawn anew at once, not at the next change
  LogOverlay(L"Display scale changed: " + std::to_wstring(dpi) + L" DPI");
}

// Render gives a pane's window its place and size with its first picture.
bool OverlayWindow::AddPane() {
  HWND hwnd = CreateWindowExW(kExStyle, kClassName, Text(kTextOverlayTitle), WS_POPUP, x, y, 1, 1, nullptr,
                              nullptr, instance, this);
  if (!hwnd) {
    LogOverlay(L"ERROR: CreateWindowEx failed (" + std::to_wstring(GetLastError()) + L"), a tile is not shown");
    return false;
  }
  const size_t pane = panes.size();
  if (dragMode && IsMemberPane(pane)) SetTakesMouse(hwnd, true);
  panes.emplace_back();
  panes.back().window.Reset(hwnd);
  if (IsMemberPane(pane)) panes.back().pictures.resize(2);
  if (pane == static_cast<size_t>(FrameItemKind::kCard)) panes.back().pictures.resize(kCardLimit + 1);
  return true;
}

void OverlayWindow::Show() {
  if (!Created()) return;
  Invalidate();  // shown again, it gets a fresh frame
  visible = true;
}

void OverlayWindow::Toggle() {
  if (!Created()) return;
  if (!visible) return Show();
  for (OverlayPane& pane : panes) {
    if (pane.shown) ShowWindow(pane.Hwnd(), SW_HIDE);
    pane.shown = false;
  }
  visible = false;
}

void OverlayWindow::KeepOnTop() {
  // Re-asserted one after another, the shown panes stand at the top of the
  // z-order: a window that made itself topmost since stands above them all.
  HWND top = GetTopWindow(nullptr);
  for (const OverlayPane& pane : panes)
    if (pane.shown && pane.Hwnd() == top) return;
  for (OverlayPane& pane : panes)
    if (visible && pane.shown)
      SetWindowPos(pane.Hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void OverlayWindow::Invalidate() {
  for (OverlayPane& pane : panes) pane.pushed = FrameLayout();
}

bool OverlayWindow::UpdateDragMode() { return SetDragMode(KeyHeld(VK_CONTROL) && KeyHeld(VK_MENU)); }

bool OverlayWindow::SetDragMode(bool mode) {
  if (mode == dragMode) return false;
  dragMode = mode;
  for (size_t pane = 0; pane < panes.size(); ++pane)
    if (IsMemberPane(pane)) SetTakesMouse(panes[pane].Hwnd(), mode);
  if (mode)
    SetCursor(LoadCursorW(nullptr, IDC_SIZEALL));
  else
    EndDrag();  // letting go of Ctrl or Alt mid-drag ends and saves it
  return true;
}

void OverlayWindow::BeginDrag() {
  dragging = true;
  GetCursorPos(&dragStartCursor);
  dragStartX = g_settings.Committed().overlay_x;
  dragStartY = g_settings.Committed().overlay_y;
  SetCapture(MemberWindow());
}

// The cursor moves in pixels; the setting counts 96-DPI units.
void OverlayWindow::DragTo(POINT cursor) {
  auto units = [this](int pixels) { return static_cast<int32_t>(std::lround(static_cast<float>(pixels) / Scale())); };
  const Config drawn = g_settings.Effective();
  const int32_t x = ClampColumnOffset(dragStartX, units(cursor.x - dragStartCursor.x), units(width),
                                      drawn.avatar_size, drawn.margin);
  const int32_t y = ClampColumnOffset(dragStartY, units(cursor.y - dragStartCursor.y), units(height),
                                      drawn.avatar_size, drawn.margin);
  g_settings.Change([x, y](Config& settings) {
    settings.overlay_x = x;
    settings.overlay_y = y;
  });
}

void OverlayWindow::EndDrag() {
  if (!dragging) return;
  dragging = false;
  ReleaseCapture();
  const Config& settings = g_settings.Committed();
  SaveConfig(settings, GetConfigPath());
  LogOverlay(L"Saved overlay position: X=" + std::to_wstring(settings.overlay_x) +
             L" Y=" + std::to_wstring(settings.overlay_y));
}

void OverlayWindow::SetVoiceUsers(const std::vector<VoiceUser>& list) {
  stateChanged = true;
  state.filter = MemberFilterFromConfig(g_settings.Effective());
  LogOverlay(DescribeMemberCounts(state.SetVoiceUsers(list, GetTickCount())));
}

void OverlayWindow::SetSpeaking(const std::string& id, bool speaking) {
  if (state.SetSpeaking(id, speaking, GetTickCount())) stateChanged = true;
}

void OverlayWindow::SetSelfId(const std::string& id) {
  if (state.selfId == id) return;
  state.selfId = id;
  // Whether the user's own tile is kept depends on it.
  state.RefreshShown(GetTickCount());
  stateChanged = true;
}

void OverlayWindow::AddNotification(const OverlayNotification& record) {
  stateChanged = true;
  size_t count = state.AddNotification(record, GetTickCount());
  LogOverlay(DescribeAddedCard(state.notifications.back(), count));
}

void OverlayWindow::AddMessageNotification(const std::wstring& sender, const std::wstring& text) {
  stateChanged = true;
  state.AddMessageNotification(sender, text, GetTickCount());
}

uint32_t OverlayWindow::MsUntilPictureChanges(uint32_t now) const {
  if (!Created() || !visible) return kNoChange;
  // While dragging, the column follows the cursor frame by frame.
  if (stateChanged || dragMode) return 0;
  for (const OverlayPane& pane : panes)
    if (!pane.pushed.valid) return 0;
  uint32_t wait = state.MsUntilNextChange(now, CardDurationMs());
  // As Render draws it: the settings window's draft may have it on.
  if (g_settings.Effective().pip_enabled) wait = std::min(wait, renderer.pip.MsUntilRefresh(now));
  return std::min(wait, renderer.avatars.MsUntilChange(now));
}

void OverlayWindow::Update() {
  const uint32_t now = GetTickCount();
  state.SetFilter(MemberFilterFromConfig(g_settings.Effective()), now);  // the settings and the tray change it at once
  state.Update(now, CardDurationMs());
}

// A column placed on a bigger monitor stays inside this one; the setting
// keeps its value for when that monitor returns.
DrawSettings OverlayWindow::FrameSettings(const Config& settings) const {
  DrawSettings drawn = DrawSettingsOf(settings);
  drawn.display_scale = Scale();
  const auto unitsWide = static_cast<int32_t>(static_cast<float>(width) / Scale());
  const auto unitsHigh = static_cast<int32_t>(static_cast<float>(height) / Scale());
  drawn.overlay_x = ClampColumnOffset(drawn.overlay_x, 0, unitsWide, drawn.avatar_size, settings.margin);
  drawn.overlay_y = ClampColumnOffset(drawn.overlay_y, 0, unitsHigh, drawn.avatar_size, settings.margin);
  return drawn;
}

bool OverlayWindow::Render() {
  stateChanged = false;
  if (!Created() || !visible) return false;
  const Config settings = g_settings.Effective();
  const DrawSettings drawn = FrameSettings(settings);
  renderer.TrimCaches();
  renderer.avatars.BeginFrame(AvatarPictureSize(static_cast<float>(drawn.avatar_size) * drawn.display_scale));
  uint32_t now = GetTickCount();
  if (!state.notifications.empty() && now - g_lastRenderLogTick > kRenderLogIntervalMs) {
    LogOverlay(L"Rendering " + std::to_wstring(state.notifications.size()) + L" notifications");
    g_lastRenderLogTick = now;
  }
  // Searching and capturing run on their own timing, drawn or not.
  FrameView view{x, y, width, height, dragMode};
  if (settings.pip_enabled) view.pipShown = renderer.pip.Refresh(settings.pip_window_title, settings.pip_opacity);
  view.pipGeneration = renderer.pip.captureCount;
  const FrameLayout frame = LayOutFrame(state, drawn, view, now, renderer.Probes());
  bool changed = false;
  // A pane left without items hides; its window stays for the next member.
  const size_t needed = std::max(panes.size(), PanesNeeded(frame));
  for (size_t pane = 0; pane < needed; ++pane) {
    if (pane == panes.size() && !AddPane()) break;
    changed |= RenderPane(panes[pane], ItemsOfPane(frame, pane), IsMemberPane(pane));
  }
  return changed;
}

// A member tile's room stays put, so its window fits it exactly; the cards'
// grows and shrinks, so their window keeps a margin.
bool OverlayWindow::RenderPane(OverlayPane& pane, FrameLayout part, bool fitted) {
  const PixelRect screen{0, 0, width, height};
  PixelRect place = fitted ? Overlap(RoomOf(part), screen) : WindowPart(pane.part, RoomOf(part), screen);
  if (place.Empty()) {
    bool hid = pane.shown;
    if (pane.shown) ShowWindow(pane.Hwnd(), SW_HIDE);
    pane.shown = false;
    pane.part = PixelRect();
    pane.frame.Release();
    for (KeptPicture& picture : pane.pictures) {
      picture.frame.Release();
      picture.held = false;
    }
    pane.pushed = std::move(part);
    return hid;
  }
  if (!(place == pane.part)) {
    pane.part = place;
    pane.pushed = FrameLayout();
  }
  PixelRect dirty = DirtyRect(pane.pushed, part, place);
  if (dirty.Empty()) return false;  // the window shows this picture already

  bool pushed = false;
  if (KeptPicture* picture = fitted ? FillingPicture(pane, part, place) : nullptr) {
    pane.frame.Release();  // the picture is the window's whole frame
    pushed = renderer.EndFrame(picture->frame, pane.Hwnd(), x, y);
  } else {
    // Outside the changed part the frame must still hold what was pushed.
    const PixelRect area = pane.frame.Dc() && pane.frame.Bounds() == place ? dirty : place;
    pane.frame.Prepare(place.right - place.left, place.bottom - place.top);
    pane.frame.originX = place.left;
    pane.frame.originY = place.top;
    const DrawContext context{renderer, pane.frame, pane.frame.Clear(area), part.settings};
    for (const FrameItem& item : part.items)
      if (!Overlap(item.rect, area).Empty()) DrawPaneItem(pane, context, item);  // else kept as pushed
    pushed = renderer.EndFrame(pane.frame, pane.Hwnd(), x, y, &area);
  }
  // A frame the window refused is drawn whole next time.
  pane.pushed = pushed ? std::move(part) : FrameLayout();
  if (pushed && !pane.shown) {
    ShowWindow(pane.Hwnd(), SW_SHOWNOACTIVATE);
    pane.shown = true;
  }
  return true;
}

void OverlayWindow::DrawPaneItem(OverlayPane& pane, const DrawContext& context, const FrameItem& item) {
  if (const KeptPicture* picture = KeptItem(pane, context.settings, item))
    context.frame.Blend(picture->frame, context.clip.Empty() ? item.rect : Overlap(item.rect, context.clip));
  else
    DrawItem(context, item);
}

namespace {

// A still tile and a card at full alpha look the same at any place; a
// growing tile (its entry animation) and a fading card differ every frame.
bool IsStill(const FrameItem& item) {
  if (const auto* tile = std::get_if<TileItem>(&item.what)) return tile->look.scale >= 1.0f;
  if (const auto* card = std::get_if<CardItem>(&item.what)) return card->look.alpha >= 1.0f;
  return false;
}

bool Shows(const KeptPicture& picture, const DrawSettings& settings, const FrameItem& item) {
  const PixelRect& a = picture.item.rect;
  const PixelRect& b = item.rect;
  return picture.held && picture.settings == settings && picture.item.LooksLike(item) &&
         picture.item.AvatarHash() == item.AvatarHash() && a.right - a.left == b.right - b.left &&
         a.bottom - a.top == b.bottom - b.top;
}

// The kept picture that shows the item, else the least recently used.
KeptPicture& PictureFor(std::deque<KeptPicture>& pictures, const DrawSettings& settings, const FrameItem& item) {
  for (KeptPicture& picture : pictures)
    if (Shows(picture, settings, item)) return picture;
  return *std::min_element(pictures.begin(), pictures.end(),
                           [](const KeptPicture& a, const KeptPicture& b) { return a.lastUse < b.lastUse; });
}

}  // namespace

// A still item is drawn once into one of its pane's kept pictures and copied
// from there wherever it stands; null for anything else.
KeptPicture* OverlayWindow::KeptItem(OverlayPane& pane, const DrawSettings& settings, const FrameItem& item) {
  if (pane.pictures.empty() || !IsStill(item)) return nullptr;
  KeptPicture& picture = PictureFor(pane.pictures, settings, item);
  picture.frame.originX = item.rect.left;
  picture.frame.originY = item.rect.top;
  if (!Shows(picture, settings, item)) {
    picture.frame.Prepare(item.rect.right - item.rect.left, item.rect.bottom - item.rect.top);
    picture.frame.Clear(item.rect);
    DrawItem(DrawContext{renderer, picture.frame, PixelRect(), settings}, item);
    picture.held = picture.frame.Dc() != nullptr;
    picture.settings = settings;
    picture.item = item;
  }
  if (!picture.frame.Dc()) return nullptr;  // no memory for a picture
  picture.lastUse = ++pictureUses;
  return &picture;
}

// A still tile that fills its window is pushed from its kept picture, so
// the window needs no frame of its own; null for anything else.
KeptPicture* OverlayWindow::FillingPicture(OverlayPane& pane, const FrameLayout& part, const PixelRect& place) {
  if (part.items.size() != 1 || !(part.items[0].rect == place)) return nullptr;
  return KeptItem(pane, part.settings, part.items[0]);
}

LRESULT CALLBACK OverlayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Each pane carries its overlay from its first message on.
  if (message == WM_NCCREATE)
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
  auto* overlay = reinterpret_cast<OverlayWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE:
      return 0;
    case WM_DESTROY:
      return 0;
    case WM_SETCURSOR:
      if (overlay && overlay->dragMode) {
        SetCursor(LoadCursorW(nullptr, IDC_SIZEALL));
        return 1;
      }
      break;
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    case WM_NCHITTEST:
      return overlay && overlay->dragMode ? HTCLIENT : HTTRANSPARENT;
    case WM_MOUSEMOVE:
      if (overlay && overlay->dragging) {
        POINT cursor;
        GetCursorPos(&cursor);
        overlay->DragTo(cursor);
      }
      return 0;
    case WM_LBUTTONDOWN:
      if (overlay && overlay->dragMode) overlay->BeginDrag();
      return 0;
    case WM_LBUTTONUP:
      if (overlay && overlay->dragging) overlay->EndDrag();
      return 0;
    case WM_DISPLAYCHANGE:
      // Every pane hears it; the member window answers for all of them.
      if (overlay && window == overlay->MemberWindow()) overlay->PlaceOnMonitor();
      break;
    case kDpiChangedMessage:
      // The windows are sized and placed by every push, so the suggested
      // rectangle is not applied: the next frame lays them out anew.
      if (overlay && window == overlay->MemberWindow()) overlay->SetDpi(LOWORD(wParam));
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
