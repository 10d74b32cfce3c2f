// voxmere_bench [--output FILE] [--machine TEXT] [--wine TEXT] [--before VOXMERE_EXE]
// (voxmere_bench --labels gdiplus|dwrite: one approach's label figures, for the main run)
// Measures the figures and writes the report (to stdout without --output);
// --before times another build's Voxmere.exe's start beside this one's.
// bench/run_bench.sh runs it under Wine on a virtual display.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "app/text_convert.h"
#include "bench/bench.h"

namespace {

std::string Today() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u UTC", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute);
  return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring output, beforeExe;
  ReportContext context;
  context.date = Today();
  context.machine = "unknown";
  context.wine = "unknown";
  for (int i = 1; i + 1 < argc; i += 2) {
    std::wstring name = argv[i];
    std::string value = WideToUtf8(argv[i + 1]);
    if (name == L"--labels") return RunLabelChild(argv[i + 1]);
    if (name == L"--output") output = argv[i + 1];
    else if (name == L"--machine") context.machine = value;
    else if (name == L"--wine") context.wine = value;
    else if (name == L"--before") beforeExe = argv[i + 1];
    else {
      std::fprintf(stderr, "usage: voxmere_bench [--output FILE] [--machine TEXT] [--wine TEXT] [--before VOXMERE_EXE]\n");
      return 2;
    }
  }

  std::printf("Measuring frames and notification latency in-process...\n");
  std::fflush(stdout);
  FrameFigures frames = MeasureFrames();
  std::printf("Measuring a running Voxmere.exe (about 30 s)...\n");
  std::fflush(stdout);
  ProcessFigures process = MeasureProcess(beforeExe);
  std::printf("Measuring name labels, each way of drawing them in a process of its own...\n");
  std::fflush(stdout);
  std::vector<LabelFigure> labels = MeasureLabels();

  std::string report = FormatReport(context, frames, process, labels);
  if (output.empty()) {
    std::fwrite(report.data(), 1, report.size(), stdout);
  } else {
    std::ofstream file(WideToUtf8(output), std::ios::binary);
    file << report;
    if (!file) {
      std::fprintf(stderr, "voxmere_bench: cannot write %s\n", WideToUtf8(output).c_str());
      return 1;
    }
    std::fwrite(report.data(), 1, report.size(), stdout);
  }
  return frames.ok && process.ok ? 0 : 1;
}
