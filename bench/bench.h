// voxmere_bench: the figures that matter for an always-on overlay, measured
// in one run on one machine, and the report that shows them beside their
// targets.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Median and 99th percentile (nearest rank) of a set of samples.
struct Spread {
  double median = 0.0;
  double p99 = 0.0;
  size_t count = 0;
};
Spread Summarize(std::vector<double> samples);

// Milliseconds from the performance counter.
double NowMs();

// Measured in this process on the real OverlayWindow and Renderer.
struct FrameFigures {
  bool ok = false;
  std::string failure;
  int width = 0;
  int height = 0;
  Spread floor;            // clear + UpdateLayeredWindow, nothing drawn
  Spread drawn;            // Update + Render with 8 members and 5 cards, drawn whole
  Spread ring;             // one member's speaking ring toggled: the partial frame
  Spread ringWhole;        // the same change drawn and pushed whole
  Spread slide;            // the newest card moved by one 33 ms slide step
  Spread smallPush;        // a 100 x 100 rectangle cleared and pushed, nothing drawn
  Spread unchanged;        // Update + Render when nothing changed since the last push
  Spread latency;          // pipe write to the first frame drawn with the card
  Spread latencyToDrain;   // of which pipe write to the drain that delivered it
  Spread latencyToPixels;  // pipe write to the first push showing part of the card
  size_t latencyMissed = 0;  // notifications whose card never showed
  Spread speakingLatency;     // the feed's speaking message written to the pipe to the frame that pushed the ring
  size_t speakingMissed = 0;  // rings that never showed
};

// Measured on a running Voxmere.exe.
struct ProcessFigures {
  bool ok = false;
  std::string failure;
  // Over several starts, each program's start in turn:
  Spread toLogStart;    // CreateProcess to "=== Voxmere Started ==="
  Spread toFirstFrame;  // CreateProcess to the end of the first work pass
  Spread bareWindow;    // CreateProcess to bare_window.exe's line: a program that only creates a window
  Spread beforeToLogStart;    // the same of another build's Voxmere.exe (--before), else empty
  Spread beforeToFirstFrame;
  double idleCpuPercent = -1.0;  // of one core, unchanging channel, no cards
  double idleServerCpuPercent = -1.0;  // of its prefix's wineserver meanwhile (Wine only)
  double cardsCpuPercent = -1.0;  // of one core, five cards standing still
  std::string cpuSource;          // where the CPU times came from
  double startPrivateMb = -1.0;
  double loadedPrivateMb = -1.0;  // 20 avatars cached, 5 cards shown
  int members = 0;
  int avatarsServed = 0;
};

// One label figure, microseconds per label (a shadow and the text).
struct LabelFigure {
  std::string name;  // approach_case_kind, e.g. "dwrite_kept_latin"
  Spread us;
};

FrameFigures MeasureFrames();
// Each approach in a child process of this executable (voxmere_bench --labels NAME).
std::vector<LabelFigure> MeasureLabels();
int RunLabelChild(const std::wstring& approach);
// beforeExe: another build's Voxmere.exe, whose start is timed in turn with this one's; empty for none.
ProcessFigures MeasureProcess(const std::wstring& beforeExe);

struct ReportContext {
  std::string date;
  std::string machine;
  std::string wine;
};
// The whole docs/benchmarks.md text.
std::string FormatReport(const ReportContext& context, const FrameFigures& frames, const ProcessFigures& process,
                         const std::vector<LabelFigure>& labels);
