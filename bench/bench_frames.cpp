// In-process figures: the real OverlayWindow, Renderer and NotificationServer
// on a window the size of the primary screen, with avatars from a loopback CDN.
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <thread>

#include "app/app.h"
#include "app/config.h"
#include "app/settings_store.h"
#include "app/text_convert.h"
#include "app/work_loop.h"
#include "bench/bench.h"
#include "notify/notification_parse.h"
#include "notify/notification_server.h"
#include "overlay/avatar_request.h"
#include "overlay/overlay_window.h"
#include "overlay/renderer.h"
#include "tools/loopback_http/loopback_http_server.h"
#include "tools/loopback_http/test_png.h"

namespace {

constexpr int kWarmUpFrames = 10;
constexpr int kMeasuredFrames = 300;
constexpr size_t kMembers = 8;
constexpr size_t kCards = 5;
constexpr size_t kProbes = 200;
constexpr DWORD kFrameIntervalMs = 33;  // the main loop's cadence
constexpr DWORD kAvatarWaitMs = 10000;
constexpr DWORD kProbeWaitMs = 2000;
constexpr int kAvatarSide = 128;
constexpr size_t kRingMember = 4;  // silent, no badge
constexpr float kSlideFrom = 0.5f;
constexpr float kSlideStep = static_cast<float>(kFrameIntervalMs) / static_cast<float>(kSlideInMs);

std::wstring MemberId(size_t i) { return L"2000000000000000" + std::to_wstring(10 + i); }
std::wstring AvatarHash(size_t i) { return std::wstring(31, L'a') + std::to_wstring(i % 10); }

// A 128-pixel picture with some variation, so scaling does real work.
std::string AvatarPng() {
  std::vector<uint32_t> pixels(kAvatarSide * kAvatarSide);
  for (int y = 0; y < kAvatarSide; ++y)
    for (int x = 0; x < kAvatarSide; ++x)
      pixels[y * kAvatarSide + x] = 0xFF000000u | (static_cast<uint32_t>(x * 2) << 16) |
                                    (static_cast<uint32_t>(y * 2) << 8) | 0x60u;
  return EncodePng(kAvatarSide, kAvatarSide, pixels);
}

std::vector<VoiceUser> BenchMembers() {
  std::vector<VoiceUser> users;
  for (size_t i = 0; i < kMembers; ++i) {
    VoiceUser user;
    user.id = WideToUtf8(MemberId(i));
    user.username = L"member" + std::to_wstring(i);
    user.displayName = L"Member " + std::to_wstring(i);
    user.avatarHash = AvatarHash(i);
    user.speaking = i < 2;
    user.muted = i == 2;
    user.deafened = i == 3;
    users.push_back(user);
  }
  return users;
}

OverlayNotification BenchCard(size_t i) {
  OverlayNotification card;
  card.data.username = L"member" + std::to_wstring(i);
  card.data.displayName = L"Member " + std::to_wstring(i);
  card.data.content = L"A message long enough to need the ellipsis on a 380 pixel card, number " + std::to_wstring(i);
  card.data.userId = MemberId(i);
  card.data.avatarHash = AvatarHash(i);
  card.data.channelName = L"general";
  card.data.serverName = L"Bench Server";
  return card;
}

// "Probe 12" -> 12; kProbes for any other card.
size_t ProbeIndex(const std::wstring& displayName) {
  if (displayName.rfind(L"Probe ", 0) != 0) return kProbes;
  return std::wcstoul(displayName.c_str() + 6, nullptr, 10);
}

bool AllAvatarsCached(const std::vector<VoiceUser>& users) {
  for (const VoiceUser& user : users)
    if (!GetAvatar(MemberAvatarSource(user))) return false;
  return true;
}

// The program's loop dispatches between frames; without that the windows'
// events pile up, and the first wait after the frames handles them all.
void DispatchPending() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

// Times fn over the warm-up and measured frames.
template <typename Fn>
Spread TimeFrames(Fn fn) {
  for (int i = 0; i < kWarmUpFrames; ++i) fn();
  std::vector<double> samples;
  for (int i = 0; i < kMeasuredFrames; ++i) {
    double start = NowMs();
    fn();
    samples.push_back(NowMs() - start);
    DispatchPending();
  }
  return Summarize(samples);
}

// The floor: a frame of the whole monitor, in a layered window as big, shown.
void MeasureFloor(const OverlayWindow& overlay, FrameFigures& figures) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"VoxmereBenchFloor";
  RegisterClassExW(&wc);
  HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_LAYERED | WS_EX_NOACTIVATE,
                                wc.lpszClassName, L"", WS_POPUP, overlay.x, overlay.y, overlay.width, overlay.height,
                                nullptr, nullptr, wc.hInstance, nullptr);
  Renderer& renderer = GetRenderer();
  FrameBuffer frame;
  auto whole = [&] {
    frame.Prepare(overlay.width, overlay.height);
    frame.Clear(frame.Bounds());
  };
  whole();
  renderer.EndFrame(frame, window, overlay.x, overlay.y);
  ShowWindow(window, SW_SHOWNOACTIVATE);
  figures.floor = TimeFrames([&] {
    whole();
    renderer.EndFrame(frame, window, overlay.x, overlay.y);
  });
  const PixelRect small{100, 100, 200, 200};
  figures.smallPush = TimeFrames([&] {
    frame.Clear(small);
    renderer.EndFrame(frame, window, overlay.x, overlay.y, &small);
  });
  DestroyWindow(window);
  UnregisterClassW(wc.lpszClassName, wc.hInstance);
}

void MeasureDrawing(OverlayWindow& overlay, FrameFigures& figures) {
  MeasureFloor(overlay, figures);

  overlay.SetVoiceUsers(BenchMembers());
  // Entry animations over.
  for (auto& [id, tick] : overlay.state.joinTicks) tick = 0;
  for (MemberTile& tile : overlay.state.shown) tile.joinTick = 0;
  for (size_t i = 0; i < kCards; ++i) overlay.AddNotification(BenchCard(i));
  for (OverlayNotification& card : overlay.state.notifications) card.createdTick = GetTickCount() - 1000;

  ULONGLONG deadline = GetTickCount64() + kAvatarWaitMs;
  while (!AllAvatarsCached(overlay.state.users) && GetTickCount64() < deadline) Sleep(20);
  if (!AllAvatarsCached(overlay.state.users)) {
    figures.failure = "avatars did not arrive from the loopback CDN";
    return;
  }
  figures.drawn = TimeFrames([&] {
    overlay.Update();
    overlay.Invalidate();  // drawn and pushed although nothing changed
    overlay.Render();
  });
  // Nothing changes between these frames.
  figures.unchanged = TimeFrames([&] {
    overlay.Update();
    overlay.Render();
  });
  // A member starts or stops speaking, nothing else changes.
  const VoiceUser& talker = overlay.state.users[kRingMember];
  figures.ring = TimeFrames([&] {
    overlay.SetSpeaking(talker.id, !talker.speaking);
    overlay.Update();
    overlay.Render();
  });
  figures.ringWhole = TimeFrames([&] {
    overlay.SetSpeaking(talker.id, !talker.speaking);
    overlay.Update();
    overlay.Invalidate();
    overlay.Render();
  });
  // The newest card one frame further into its slide-in (Update would have
  // it stand in place, so its progress is set after it).
  bool later = false;
  figures.slide = TimeFrames([&] {
    overlay.Update();
    later = !later;
    overlay.state.notifications.back().slideIn = later ? kSlideFrom + kSlideStep : kSlideFrom;
    overlay.Render();
  });
  overlay.Invalidate();
}

// The program's notification server on a private pipe, waking the program's
// own work loop through its message window.
NotificationServer& StartBenchServer(const std::wstring& pipeName) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = MessageWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"VoxmereBenchWork";
  RegisterClassExW(&wc);
  g_app->messageWindow.Reset(
      CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr));
  SetWakeWindow(g_app->messageWindow.Get());
  g_app->notifications = std::make_unique<NotificationServer>(std::wstring(pipeName), 0);
  g_app->notifications->SetWakeCallback(WakeWorkLoop);
  return *g_app->notifications;
}

void StopBenchServer() {
  g_app->notifications.reset();
  SetWakeWindow(nullptr);
  g_app->messageWindow.Reset();
}

// The program's work loop on this thread until done; afterEach runs after
// every message dispatched.
void RunWorkLoopUntil(const std::atomic<bool>& done, const std::function<void()>& afterEach) {
  StartWorkSources(g_app->messageWindow.Get());
  while (!done) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      DispatchMessageW(&msg);
      afterEach();
    }
  }
  g_app->work.Stop();
}

// A pipe client connected to the bench's server; INVALID_HANDLE_VALUE after 5 s.
HANDLE ConnectBenchPipe(const std::wstring& pipeName) {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  ULONGLONG deadline = GetTickCount64() + 5000;
  while (pipe == INVALID_HANDLE_VALUE && GetTickCount64() < deadline) {
    pipe = CreateFileW(pipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) Sleep(10);
  }
  return pipe;
}

// One pipe client writes the probes one at a time; the program's own work
// loop (woken by the queue, frames at once for news at rest) runs on this
// thread, and the first frame drawn after a card arrived is when it showed.
void MeasureLatency(OverlayWindow& overlay, FrameFigures& figures) {
  const std::wstring pipeName = L"\\\\.\\pipe\\VoxmereBench_" + std::to_wstring(GetCurrentProcessId());
  std::array<std::atomic<double>, kProbes> sentMs;
  std::array<std::atomic<double>, kProbes> drainedMs;
  std::array<std::atomic<double>, kProbes> shownMs;
  std::array<double, kProbes> pixelsMs;
  // Shown slid in with nothing left moving: the overlay is at rest again.
  std::array<std::atomic<bool>, kProbes> settled;
  for (size_t i = 0; i < kProbes; ++i) {
    sentMs[i] = -1.0;
    drainedMs[i] = -1.0;
    shownMs[i] = -1.0;
    pixelsMs[i] = -1.0;
    settled[i] = false;
  }
  NotificationServer& server = StartBenchServer(pipeName);
  server.SetCallback([&overlay, &drainedMs](const NotificationData& data) {
    size_t index = ProbeIndex(data.displayName);
    if (index < kProbes) drainedMs[index] = NowMs();
    overlay.AddNotification(OverlayNotification{data});
  });
  if (!server.Start()) figures.failure = "the notification server did not start";
  std::atomic<bool> writerDone{!figures.failure.empty()};
  std::thread writer([&] {
    HANDLE pipe = ConnectBenchPipe(pipeName);
    std::mt19937 random(12345);
    // Each card arrives at an overlay at rest (the previous one has slid in
    // and a frame period has passed with nothing to draw), at a random point
    // of the next frame period.
    const int period = static_cast<int>(kFrameIntervalMs);
    std::uniform_int_distribution<int> pause(period, 2 * period + 7);
    for (size_t i = 0; pipe != INVALID_HANDLE_VALUE && i < kProbes; ++i) {
      NotificationData data;
      data.username = L"probe";
      data.displayName = L"Probe " + std::to_wstring(i);
      data.content = L"latency probe " + std::to_wstring(i);
      std::string text = FormatNotification(data);
      sentMs[i] = NowMs();
      DWORD written = 0;
      if (!WriteFile(pipe, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) break;
      ULONGLONG wait = GetTickCount64() + kProbeWaitMs;
      while (!settled[i] && GetTickCount64() < wait) Sleep(1);
      Sleep(static_cast<DWORD>(pause(random)));
    }
    if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
    writerDone = true;
  });

  RunWorkLoopUntil(writerDone, [&] {
      if (overlay.stateChanged) return;  // what arrived is not drawn yet
      double at = NowMs();
      bool atRest = overlay.MsUntilPictureChanges(GetTickCount()) != 0;
      for (const OverlayNotification& card : overlay.state.notifications) {
        size_t index = ProbeIndex(card.data.displayName);
        if (index >= kProbes) continue;
        if (shownMs[index] < 0.0) shownMs[index] = at;
        if (card.slideIn >= 1.0f && atRest) settled[index] = true;
      }
      // A card enters from just outside the screen: the pushes show its
      // first pixels once its slide-in has brought it onto the screen.
      const PixelRect screen{0, 0, overlay.width, overlay.height};
      for (const FrameItem& item : overlay.panes[static_cast<size_t>(FrameItemKind::kCard)].pushed.items) {
        if (item.index >= overlay.state.notifications.size()) continue;
        size_t index = ProbeIndex(overlay.state.notifications[item.index].data.displayName);
        if (index < kProbes && pixelsMs[index] < 0.0 && !Overlap(item.rect, screen).Empty()) pixelsMs[index] = at;
      }
  });
  writer.join();
  StopBenchServer();

  std::vector<double> latencies, toDrain, toPixels;
  for (size_t i = 0; i < kProbes; ++i) {
    if (sentMs[i] >= 0.0 && drainedMs[i] >= 0.0 && shownMs[i] >= 0.0 && pixelsMs[i] >= 0.0) {
      latencies.push_back(shownMs[i] - sentMs[i]);
      toDrain.push_back(drainedMs[i] - sentMs[i]);
      toPixels.push_back(pixelsMs[i] - sentMs[i]);
    } else {
      ++figures.latencyMissed;
    }
  }
  figures.latency = Summarize(latencies);
  figures.latencyToDrain = Summarize(toDrain);
  figures.latencyToPixels = Summarize(toPixels);
}

// The plugin's feed as a pipe client sends it: the bench's members as one
// whole list, then one silent member's ring switched on and off, each change
// written at a random point of a frame period after the last one showed.
// The program's work loop takes each (the voice roster, the overlay's one
// flag) and draws; the ring shows when the frame drawn with the new flag has
// pushed its tile's window.
void MeasureSpeakingLatency(OverlayWindow& overlay, FrameFigures& figures) {
  const std::wstring pipeName = L"\\\\.\\pipe\\VoxmereBenchVoice_" + std::to_wstring(GetCurrentProcessId());
  std::array<std::atomic<double>, kProbes> sentMs;
  std::array<std::atomic<double>, kProbes> shownMs;
  for (size_t i = 0; i < kProbes; ++i) sentMs[i] = shownMs[i] = -1.0;
  std::atomic<size_t> probe{kProbes};  // the change on its way; kProbes: none
  std::atomic<bool> listShown{false};
  const std::vector<VoiceUser> members = BenchMembers();
  NotificationServer& server = StartBenchServer(pipeName);
  server.SetFeedCallback(TakeFeedDelivery);
  std::atomic<bool> writerDone{!server.Start()};
  std::thread writer([&] {
    HANDLE pipe = ConnectBenchPipe(pipeName);
    Json list = Json::array();
    for (const VoiceUser& m : members)
      list.push_back({{"id", m.id}, {"name", WideToUtf8(m.displayName)}, {"avatar", WideToUtf8(m.avatarHash)}});
    const std::string whole = FormatJson({{"kind", "voice"}, {"seq", 1}, {"part", 0}, {"parts", 1},
                                          {"channel", {{"id", "300000000000000001"}, {"type", 2}, {"name", "Bench"}}},
                                          {"self_id", members[0].id}, {"members", list}});
    DWORD written = 0;
    bool ok = pipe != INVALID_HANDLE_VALUE && WriteFile(pipe, whole.data(), static_cast<DWORD>(whole.size()), &written, nullptr);
    ULONGLONG wait = GetTickCount64() + kProbeWaitMs;
    while (ok && !listShown && GetTickCount64() < wait) Sleep(1);
    std::mt19937 random(54321);
    const int period = static_cast<int>(kFrameIntervalMs);
    std::uniform_int_distribution<int> pause(period, 2 * period + 7);
    for (size_t i = 0; ok && listShown && i < kProbes; ++i) {
      const std::string text = FormatJson(
          {{"kind", "speaking"}, {"user_id", members[kRingMember].id}, {"speaking", i % 2 == 0}});
      probe = i;
      sentMs[i] = NowMs();
      if (!WriteFile(pipe, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) break;
      wait = GetTickCount64() + kProbeWaitMs;
      while (shownMs[i] < 0.0 && GetTickCount64() < wait) Sleep(1);
      Sleep(static_cast<DWORD>(pause(random)));
    }
    if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
    writerDone = true;
  });
  RunWorkLoopUntil(writerDone, [&] {
    if (overlay.stateChanged || overlay.state.shown.size() != members.size()) return;  // not drawn yet
    if (overlay.state.shown[0].id == members[0].id) listShown = true;
    const size_t i = probe;
    if (i < kProbes && shownMs[i] < 0.0 && overlay.state.shown[kRingMember].speaking == (i % 2 == 0)) shownMs[i] = NowMs();
  });
  writer.join();
  StopBenchServer();
  std::vector<double> latencies;
  for (size_t i = 0; i < kProbes; ++i) {
    if (sentMs[i] >= 0.0 && shownMs[i] >= 0.0) latencies.push_back(shownMs[i] - sentMs[i]);
    else ++figures.speakingMissed;
  }
  figures.speakingLatency = Summarize(latencies);
}

}  // namespace

FrameFigures MeasureFrames() {
  FrameFigures figures;
  LoopbackHttpServer cdn;
  const std::string png = AvatarPng();
  cdn.Route("GET", "/avatars/*", [&png](const LoopbackHttpRequest&) {
    LoopbackHttpResponse response;
    response.contentType = "image/png";
    response.body = png;
    return response;
  });
  if (!cdn.Start()) {
    figures.failure = "the loopback CDN did not start";
    return figures;
  }
  _putenv_s("VOXMERE_CDN_BASE", cdn.BaseUrl().c_str());
  Config settings;
  settings.show_names = true;
  settings.notification_duration = 3600 * 1000;  // the five cards stay for the frame figures
  g_settings.Replace(settings);
  if (!RendererInitialize()) {
    figures.failure = "GDI+ did not start";
    return figures;
  }
  {
    // The work loop draws the application's overlay.
    App app;
    g_app = &app;
    app.overlay = std::make_unique<OverlayWindow>(GetRenderer());
    OverlayWindow& overlay = *app.overlay;
    if (!overlay.Create(GetModuleHandleW(nullptr))) {
      figures.failure = "the overlay window was not created";
    } else {
      figures.width = overlay.width;
      figures.height = overlay.height;
      MeasureDrawing(overlay, figures);
      if (figures.failure.empty()) {
        g_settings.Change([](Config& s) { s.notification_duration = Config().notification_duration; });
        MeasureLatency(overlay, figures);
        MeasureSpeakingLatency(overlay, figures);
      }
    }
    app.overlay.reset();
    g_app = nullptr;
  }
  RendererShutdown();
  cdn.Stop();
  figures.ok = figures.failure.empty();
  return figures;
}
