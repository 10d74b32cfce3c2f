#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "bench/bench.h"

namespace {

// Targets of an always-on overlay.
constexpr double kFrameRatioTarget = 2.0;
constexpr double kRingRatioTarget = 0.15;
constexpr double kSlideRatioTarget = 0.40;
constexpr double kIdleCpuTarget = 0.5;  // Voxmere.exe and its wineserver together
constexpr double kLatencyP99TargetMs = 20.0;
// The ring follows at once: within one 30 Hz frame at worst.
constexpr double kRingLatencyMedianTargetMs = 8.0;
constexpr double kRingLatencyP99TargetMs = 33.3;
// No worse than the figures of the run of 2026-12-06, before partial frames.
constexpr double kMemoryTargetMb = 29.8;
// The first work pass waits for nothing it does not need: this close to a
// program that only creates a window.
constexpr double kOverFloorTargetMs = 100.0;

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Ms(double value) { return value < 0 ? "not measured" : Fixed(value, 2) + " ms"; }
std::string Pair(const Spread& s) { return s.count ? Ms(s.median) + " / " + Ms(s.p99) : "not measured"; }
// The first work pass's median less the floor's; -1 when either is missing.
double OverFloor(const ProcessFigures& p) {
  return p.toFirstFrame.count && p.bareWindow.count ? p.toFirstFrame.median - p.bareWindow.median : -1.0;
}
std::string Met(bool measured, bool met) { return measured ? (met ? "yes" : "**no**") : "not measured"; }
std::string Percent(double value) { return value < 0 ? "not measured" : Fixed(value, 2) + " %"; }
// The program and its wineserver (where there is one) together.
double IdleTotal(const ProcessFigures& p) { return p.idleCpuPercent + std::max(0.0, p.idleServerCpuPercent); }
// A median as a fraction of the floor's; -1 when either is missing.
double OfFloor(const Spread& s, const Spread& floor) {
  return s.count && floor.count && floor.median > 0 ? s.median / floor.median : -1.0;
}
std::string RatioRow(const std::string& figure, const Spread& s, const Spread& floor, double target) {
  double ratio = OfFloor(s, floor);
  std::string row = "| " + figure + " (median / p99; median / floor's) | " + Pair(s) + "; " +
                    (ratio < 0 ? "not measured" : Fixed(ratio * 100.0, 1) + " % of the floor") + " | ";
  if (target < 0) return row + "| |\n";
  return row + "at most " + Fixed(target * 100.0, 0) + " % | " + Met(ratio >= 0, ratio <= target) + " |\n";
}

// What holds back each target this run missed, as far as it is known.
std::string LimitsSection(const FrameFigures& f, const ProcessFigures& p, double ratio) {
  std::ostringstream out;
  double idleTotal = IdleTotal(p);
  bool cpuMissed = p.idleCpuPercent >= 0 && idleTotal > kIdleCpuTarget;
  bool latencyMissed = f.latency.count && f.latency.p99 > kLatencyP99TargetMs;
  bool ratioMissed = ratio > kFrameRatioTarget;
  bool overFloorMissed = OverFloor(p) > kOverFloorTargetMs;
  bool partialMissed = OfFloor(f.ring, f.floor) > kRingRatioTarget || OfFloor(f.slide, f.floor) > kSlideRatioTarget;
  if (!cpuMissed && !latencyMissed && !ratioMissed && !overFloorMissed && !partialMissed)
    return std::string();
  out << "## What limits the figures not met\n\n";
  if (cpuMissed)
    out << "- Idle CPU: the main loop sleeps until its work is due (window messages, a message posted by the "
           "notification queue or the pipe's read completion, the next due timer), so what is left at rest is the "
           "voice channel snapshot asked for about once a second (a request and its answer over the pipe) and the "
           "overlay kept on top every 2 s. The wineserver column also holds the requests of the simulator that "
           "answers the snapshots and of this benchmark.\n";
  if (latencyMissed)
    out << "- Notification latency: a card is drained as soon as the queue's posted message arrives and drawn at "
           "once; what is left is the scheduling of the pipe thread and of the user-interface thread.\n";
  if (partialMissed)
    out << "- Partial frames: each member tile, the cards and the picture have layered windows only as big as "
           "what they hold, a changed item is redrawn (a still tile pushed from its kept picture) and only its "
           "rectangle is pushed (`UpdateLayeredWindowIndirect` with `prcDirty`). Under Wine 8 a push still works "
           "on the whole window surface (it copies the surface into a scratch bitmap of the window's size and "
           "back) and has a fixed cost besides, whatever the window's size.\n";
  if (ratioMissed)
    out << "- Frame / floor: fonts and the cut card texts and measured labels are kept across frames; what remains "
           "is GDI+ drawing itself (anti-aliased paths, bicubic avatar scaling, text through Wine's GDI+).\n";
  if (overFloorMissed)
    out << "- First frame over the floor: what Voxmere.exe does before its first work pass beyond creating "
           "windows (its DLL imports, the configuration, the tray icon, the pipe and socket servers).\n";
  out << "\n";
  return out.str();
}

}  // namespace

double NowMs() {
  static const double ticksPerMs = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / ticksPerMs;
}

Spread Summarize(std::vector<double> samples) {
  Spread spread;
  spread.count = samples.size();
  if (samples.empty()) return spread;
  std::sort(samples.begin(), samples.end());
  size_t n = samples.size();
  spread.median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2.0;
  size_t rank = static_cast<size_t>(std::ceil(0.99 * static_cast<double>(n)));
  spread.p99 = samples[std::max<size_t>(rank, 1) - 1];
  return spread;
}

// Another build's start, timed in turn with this one's (--before); none without it.
std::string BeforeRows(const ProcessFigures& p) {
  if (!p.beforeToFirstFrame.count) return std::string();
  return "| Before: another build's Voxmere.exe (--before), process start to the first frame, " +
         std::to_string(p.beforeToFirstFrame.count) + " starts in turn with the above (median / slowest) | " +
         Pair(p.beforeToFirstFrame) + " | | |\n| of which process start to its first log line (median / slowest) | " +
         Pair(p.beforeToLogStart) + " | | |\n";
}

std::string LabelRows(const std::vector<LabelFigure>& labels) {
  auto us = [&labels](const std::string& name) {
    for (const LabelFigure& figure : labels)
      if (figure.name == name && figure.us.count)
        return Fixed(figure.us.median, 1) + " / " + Fixed(figure.us.p99, 1) + " \u00b5s";
    return std::string("not measured");
  };
  std::ostringstream out;
  for (const char* script : {"latin", "mixed"}) {
    std::string which = std::string(script) == "latin" ? "20 Latin characters" : "20 characters: emoji, Japanese, Arabic";
    out << "| Name label (" << which << "), before: GDI+ `DrawString`, measured and drawn (median / p99) | "
        << us(std::string("gdiplus_first_") + script) << " | | |\n"
        << "| Name label (" << which << "), before: GDI+, measure kept, drawn again | "
        << us(std::string("gdiplus_kept_") + script) << " | | |\n"
        << "| Name label (" << which << "), now: DirectWrite, first draw (layout, picture, blend) | "
        << us(std::string("dwrite_first_") + script) << " | | |\n"
        << "| Name label (" << which << "), now: kept layout and picture, blended again | "
        << us(std::string("dwrite_kept_") + script) << " | | |\n"
        << "| Name label (" << which << "), now: picture made again from the kept layout | "
        << us(std::string("dwrite_picture_") + script) << " | | |\n";
  }
  return out.str();
}

std::string FormatReport(const ReportContext& context, const FrameFigures& f, const ProcessFigures& p,
                         const std::vector<LabelFigure>& labels) {
  std::ostringstream out;
  out << "# Benchmarks\n\n"
      << "Generated by `bench/run_bench.sh` (do not edit by hand) on " << context.date << ".\n\n"
      << "- Machine: " << context.machine << "\n"
      << "- Wine: " << context.wine << ", on an Xvfb virtual display of " << f.width << " x " << f.height
      << " pixels, 24-bit, no compositing manager\n\n"
      << "**These are Wine figures, not Windows figures.** Wine draws GDI+ in its own software "
         "implementation and carries layered windows to an X server, so every number here can differ "
         "from Windows on the same hardware, in either direction. They are useful for comparing one "
         "change with another on the same machine, not as promises for users.\n\n";

  bool framesMeasured = f.floor.count && f.drawn.count;
  double ratio = framesMeasured && f.floor.median > 0 ? f.drawn.median / f.floor.median : -1.0;
  bool memoryMeasured = p.loadedPrivateMb >= 0;
  double idleTotal = IdleTotal(p);
  out << "| Figure | Measured | Target | Met |\n|---|---|---|---|\n"
      << "| Floor: clear and push a " << f.width << " x " << f.height << " 32-bit frame, nothing drawn "
      << "(median / p99) | " << Pair(f.floor) << " | | |\n"
      << "| Frame: 8 members (avatars, two speaking, one muted, one deafened, labels) and 5 cards "
      << "(median / p99) | " << Pair(f.drawn) << " | | |\n"
      << RatioRow("One member's speaking ring changes, partial frame", f.ring, f.floor, kRingRatioTarget)
      << RatioRow("The same change drawn and pushed whole, as every frame was before partial frames", f.ringWhole,
                  f.floor, -1.0)
      << RatioRow("A card's slide step (the newest of 5 moves by one 33 ms step), partial frame", f.slide, f.floor,
                  kSlideRatioTarget)
      << RatioRow("A 100 x 100 rectangle cleared and pushed, nothing drawn", f.smallPush, f.floor, -1.0)
      << "| Frame / floor, median | " << (ratio < 0 ? "not measured" : Fixed(ratio, 2) + " x") << " | at most "
      << Fixed(kFrameRatioTarget, 0) << " x | " << Met(ratio >= 0, ratio <= kFrameRatioTarget) << " |\n"
      << "| Frame when nothing changed since the last push, skipped (median / p99) | " << Pair(f.unchanged)
      << " | | |\n"
      << "| Idle CPU over 30 s, unchanging channel of " << p.members
      << " members, no cards: Voxmere.exe + its wineserver = together, % of one core | " << Percent(p.idleCpuPercent)
      << " + " << Percent(p.idleServerCpuPercent) << " = "
      << (p.idleCpuPercent < 0 || p.idleServerCpuPercent < 0 ? "not measured" : Percent(idleTotal)) << " | at most "
      << Fixed(kIdleCpuTarget, 1) << " % together | "
      << Met(p.idleCpuPercent >= 0 && p.idleServerCpuPercent >= 0, idleTotal <= kIdleCpuTarget) << " |\n"
      << "| CPU over 10 s with 5 cards standing still | "
      << (p.cardsCpuPercent < 0 ? "not measured" : Fixed(p.cardsCpuPercent, 2) + " % of one core") << " | | |\n"
      << "| Notification latency, pipe write to the first frame drawn with the card, " << f.latency.count
      << " notifications (median / p99) | " << Pair(f.latency) << " | p99 at most " << Fixed(kLatencyP99TargetMs, 0)
      << " ms | " << Met(f.latency.count > 0, f.latency.p99 <= kLatencyP99TargetMs) << " |\n"
      << "| of which pipe write to the main loop's drain (median / p99) | " << Pair(f.latencyToDrain) << " | | |\n"
      << "| Pipe write to the first push that shows some of the card's pixels (median / p99) | "
      << Pair(f.latencyToPixels) << " | | |\n"
      << "| Speaking to pixels: the feed's speaking message written to the pipe to the push of the ringed tile, "
      << f.speakingLatency.count << " changes (median / p99) | " << Pair(f.speakingLatency) << " | median at most "
      << Fixed(kRingLatencyMedianTargetMs, 0) << " ms, p99 at most " << Fixed(kRingLatencyP99TargetMs, 1) << " ms | "
      << Met(f.speakingLatency.count > 0, f.speakingLatency.median <= kRingLatencyMedianTargetMs &&
                                              f.speakingLatency.p99 <= kRingLatencyP99TargetMs)
      << " |\n"
      << "| Private memory after start (overlay shown, no channel yet) | "
      << (p.startPrivateMb < 0 ? "not measured" : Fixed(p.startPrivateMb, 1) + " MB") << " | | |\n"
      << "| Private memory with " << p.avatarsServed << " avatars cached and 5 cards | "
      << (memoryMeasured ? Fixed(p.loadedPrivateMb, 1) + " MB" : "not measured") << " | at most "
      << Fixed(kMemoryTargetMb, 1) << " MB (as before) | " << Met(memoryMeasured, p.loadedPrivateMb <= kMemoryTargetMb)
      << " |\n"
      << "| Process start to the first frame (the first work pass done), " << p.toFirstFrame.count
      << " starts (median / slowest; its target is the floor's row below, measured in the same run) | "
      << Pair(p.toFirstFrame) << " | | |\n"
      << "| of which process start to the program's first log line (median / slowest) | " << Pair(p.toLogStart)
      << " | | |\n"
      << "| Start floor: process start of a program that only creates a window, " << p.bareWindow.count
      << " starts in turn with the above (median / slowest) | " << Pair(p.bareWindow) << " | | |\n"
      << BeforeRows(p)
      << "| First frame over the floor, medians | " << Ms(OverFloor(p)) << " | at most "
      << Fixed(kOverFloorTargetMs, 0) << " ms | " << Met(OverFloor(p) >= 0, OverFloor(p) <= kOverFloorTargetMs)
      << " |\n"
      << LabelRows(labels) << "\n";

  if (f.latencyMissed) out << f.latencyMissed << " notifications never showed a card and are left out.\n\n";
  if (f.speakingMissed) out << f.speakingMissed << " speaking changes never showed and are left out.\n\n";
  if (!f.ok) out << "The in-process figures stopped early: " << f.failure << ".\n\n";
  if (!p.ok) out << "The Voxmere.exe figures stopped early: " << p.failure << ".\n\n";

  out << LimitsSection(f, p, ratio);

  out << "## How each figure is measured\n\n"
      << "- Floor and frame: in the benchmark's own process, on the real overlay window and renderer "
         "(`OverlayWindow::Update` and `Render`), over 300 frames after 10 warm-up frames, timed with the "
         "performance counter. Avatars (128 x 128 PNG) come from a loopback CDN and are cached before timing; "
         "the cards have slid in. The drawn frame is forced even when nothing changed, so it measures the "
         "cost of drawing and pushing every window (a window per member tile, one for the cards); a still member "
         "tile is pushed from the picture kept for it (two per tile) and a card at full alpha blended from its "
         "own (one per card and one more), as in the program; the next row is the cost of a frame when nothing changed since the "
         "last push. The "
         "ring rows toggle the speaking flag of one silent member before each frame, once with the partial frame "
         "and once forced whole; the slide row moves the newest card between slide-in progress 0.5 and 0.61 (one "
         "33 ms frame of its 300 ms slide) before each frame. Between frames, untimed, the windows' messages are "
         "dispatched, as the program's loop does.\n"
         "- Idle CPU: user plus system time of a running Voxmere.exe, and of the wineserver of its Wine prefix, "
         "over 30 s of wall time, connected to the Discord "
         "simulator with a channel that has no timeline. Wine 8 returns no usable CPU times for another process "
         "through `GetProcessTimes`, so under Wine the times come from Linux's `/proc/<pid>/stat` of the Voxmere.exe "
         "process (found by its command line through the `Z:` drive; 10 ms clock ticks, so about 0.03 % resolution "
         "over 30 s); on Windows from `GetProcessTimes`. This run: " << (p.cpuSource.empty() ? "none" : p.cpuSource)
      << ". The wineserver (every message-queue, pipe and window call under Wine is a request to it) is the one "
         "whose `WINEPREFIX` is the benchmark's own; it also serves the benchmark and the simulator, which wait "
         "meanwhile. On Windows there is no such process and its share reads not measured. The X server's work "
         "is not counted.\n"
         "- Latency: the real `NotificationServer` on a private pipe name in the benchmark's process, drained "
         "and rendered by the program's own work loop (woken by the queue's posted message; a new card is drawn at "
         "once, mid-animation too, 8 ms after the last push at the soonest, then frames every 33 ms while "
         "something moves). One pipe client writes the "
         "notifications one at a time, each 33 to 73 ms after the previous card had slid in, while older cards may "
         "be fading out or pushed out of the stack; the time runs from just before `WriteFile` to the end of the "
         "first frame (`Update` and `Render`) drawn with the card in the overlay's state. That frame draws the card "
         "at the start of its slide-in, just outside the screen, so it pushes none of its pixels: the pixels row "
         "runs to the return of the first `UpdateLayeredWindow` whose picture holds some of them, which the "
         "slide-in's geometry puts 21 ms or more after the card's creation for a card entering from a side, "
         "usually one frame period later. The drain row is the part up to the main loop's "
         "`ProcessPendingNotifications` delivering it: the pipe thread's read and the posted wake-up.\n"
         "- Speaking to pixels: the same server and work loop, the plugin's feed written by a pipe client: the "
         "bench's 8 members as one whole list, then 200 `speaking` messages switching one silent member's ring on "
         "and off, each 33 to 73 ms after the previous ring showed. The time runs from just before `WriteFile` to "
         "the end of the first frame drawn with the new flag, which pushes that tile's window (the voice roster "
         "and the overlay flip the one flag; no list is copied).\n"
         "- Private memory: `PrivateUsage` of `PROCESS_MEMORY_COUNTERS_EX` (`PagefileUsage`, the same commit charge, "
         "where Wine leaves `PrivateUsage` 0) from `GetProcessMemoryInfo` on Voxmere.exe, 1.5 s after the first "
         "frame and again with the channel's avatars downloaded and 5 cards sent with `notify_send`.\n"
         "- First frame: from just before `CreateProcess` to the moment the line \"Checking BetterDiscord "
         "installation...\" shows in debug.log (read every millisecond); it is written right after the first work "
         "pass, which draws the first frame. With no channel yet that frame has nothing to show, so no window is "
         "pushed (before the overlay had windows sized to their items, it pushed an empty full-screen frame). The "
         "start of Wine's process loading is included. Voxmere.exe runs from a scratch folder with its bundled "
         "emoji font, as installed, and no Discord to reach; each start is ended with the tray's Exit.\n"
         "- Start floor: `bench/bare_window.cpp`, a program that registers a window class, creates a hidden popup "
         "window of it, dispatches its pending messages and appends one line to debug.log beside itself, then "
         "exits; it imports only kernel32, user32 and the C runtime. It lies in the same folder as Voxmere.exe "
         "and is timed the same way, from just before `CreateProcess` to its line in debug.log; the two are "
         "started in turn, one start of each first and not counted. The difference of the two medians is what "
         "Voxmere.exe's own start-up costs. With `--before`, another build's Voxmere.exe, in a folder of its own with "
         "the same configuration and font, takes its turn after the two, for the before row.\n"
         "- Name labels: 200 different bold 12-point labels, a shadow and the text each, into a 600 x 60 picture; "
         "GDI+ (`MeasureString`, two `DrawString`, as the overlay drew labels before) and DirectWrite (the "
         "overlay's text path) each in a child process of its own (`voxmere_bench --labels gdiplus|dwrite`), since "
         "under Wine GDI+ text in the same process slows DirectWrite many times over. Microseconds per label.\n";
  return out.str();
}
