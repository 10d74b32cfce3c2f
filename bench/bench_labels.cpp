// Name labels drawn the way the overlay drew them before (GDI+ DrawString) and
// the way it draws them now (DirectWrite layouts kept, pictures blended), each
// in a process of its own: under Wine, GDI+ text in the same process slows
// the DirectWrite path many times over.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/text_convert.h"
#include "bench/bench.h"
#include "overlay/frame_buffer.h"
#include "overlay/renderer.h"
#include "tests/support/child_process.h"

namespace {

constexpr size_t kLabels = 200;
constexpr float kPoints = 12.0f;
constexpr int kLabelX = 10;
constexpr int kLabelY = 10;

// 20 user-perceived characters each: Latin, or emoji, Japanese and Arabic mixed.
std::vector<std::wstring> Labels(bool mixed) {
  std::vector<std::wstring> labels;
  for (size_t i = 0; i < kLabels; ++i) {
    std::wstring number = std::to_wstring(10000000 + i);
    labels.push_back(mixed ? L"Ann \U0001F525 \u65E5\u672C \u0639\u0644\u064A \u2728 " + number.substr(1)
                           : L"Member name " + number);
  }
  return labels;
}

double MicrosecondsSince(double startMs) { return (NowMs() - startMs) * 1000.0; }

// Before: a label was measured once, then drawn twice (shadow, text) with DrawString.
void MeasureGdiplus(bool mixed, std::vector<LabelFigure>& out) {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return;
  {
    std::unique_ptr<Gdiplus::FontFamily> family;
    for (const std::wstring& name : kLabelFaces) {
      family = std::make_unique<Gdiplus::FontFamily>(name.c_str());
      if (family->GetLastStatus() == Gdiplus::Ok) break;
    }
    Gdiplus::Font font(family.get(), kPoints, Gdiplus::FontStyleBold, Gdiplus::UnitPoint);
    Gdiplus::Bitmap bitmap(600, 60, PixelFormat32bppPARGB);
    Gdiplus::Graphics g(&bitmap);
    g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
    Gdiplus::SolidBrush shadow(Gdiplus::Color(100, 0, 0, 0)), ink(Gdiplus::Color(255, 255, 255, 255));
    std::vector<double> first, kept;
    for (const std::wstring& text : Labels(mixed)) {
      auto length = static_cast<INT>(text.size());
      double start = NowMs();
      Gdiplus::RectF bounds;
      g.MeasureString(text.c_str(), length, &font, Gdiplus::PointF(0, 0), &bounds);
      first.push_back(MicrosecondsSince(start));
      start = NowMs();
      g.DrawString(text.c_str(), length, &font, Gdiplus::PointF(kLabelX + 1, kLabelY + 1), &shadow);
      g.DrawString(text.c_str(), length, &font, Gdiplus::PointF(kLabelX, kLabelY), &ink);
      double drawn = MicrosecondsSince(start);
      first.back() += drawn;
      kept.push_back(drawn);
    }
    out.push_back({"gdiplus_first", Summarize(first)});
    out.push_back({"gdiplus_kept", Summarize(kept)});
  }
  Gdiplus::GdiplusShutdown(token);
}

// Now: the first draw lays the text out and makes its picture; later draws
// blend the kept picture (shadow, text).
void MeasureDirectWrite(bool mixed, std::vector<LabelFigure>& out) {
  if (!RendererInitialize()) return;
  Renderer& r = GetRenderer();
  FrameBuffer frame;
  frame.Prepare(600, 60);
  std::vector<double> first, kept, redrawn;
  auto draw = [&r, &frame](const std::wstring& text) {
    r.text.Measure(text, kPoints, true);
    r.text.Draw(frame, PixelRect(), text, kPoints, true, kLabelX + 1, kLabelY + 1, 0x64000000u, true);
    r.text.Draw(frame, PixelRect(), text, kPoints, true, kLabelX, kLabelY, 0xFFFFFFFFu);
  };
  for (const std::wstring& text : Labels(mixed)) {
    double start = NowMs();
    draw(text);
    first.push_back(MicrosecondsSince(start));
    start = NowMs();
    draw(text);
    kept.push_back(MicrosecondsSince(start));
    start = NowMs();
    r.text.Rasterize(text, kPoints, true);
    redrawn.push_back(MicrosecondsSince(start));
    r.text.Trim();
  }
  out.push_back({"dwrite_first", Summarize(first)});
  out.push_back({"dwrite_kept", Summarize(kept)});
  out.push_back({"dwrite_picture", Summarize(redrawn)});
  frame.Release();  // before GDI+ stops
  RendererShutdown();
}

}  // namespace

int RunLabelChild(const std::wstring& approach) {
  std::vector<LabelFigure> figures;
  for (bool mixed : {false, true}) {
    std::vector<LabelFigure> part;
    if (approach == L"gdiplus") MeasureGdiplus(mixed, part);
    else MeasureDirectWrite(mixed, part);
    for (LabelFigure& figure : part) {
      figure.name += mixed ? "_mixed" : "_latin";
      std::printf("LABEL %s %.2f %.2f %zu\n", figure.name.c_str(), figure.us.median, figure.us.p99, figure.us.count);
    }
  }
  std::fflush(stdout);
  return 0;
}

std::vector<LabelFigure> MeasureLabels() {
  std::vector<LabelFigure> figures;
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  for (const wchar_t* approach : {L"gdiplus", L"dwrite"}) {
    ChildProcess child;
    if (!child.Start(L"\"" + std::wstring(exe) + L"\" --labels " + approach, TestBinDirectory(), true)) continue;
    if (child.WaitExit(120000) != 0) continue;
    for (const std::string& line : child.Lines("LABEL ")) {
      char name[64] = {};
      LabelFigure figure;
      if (std::sscanf(line.c_str(), "LABEL %63s %lf %lf %zu", name, &figure.us.median, &figure.us.p99,
                      &figure.us.count) == 4) {
        figure.name = name;
        figures.push_back(figure);
      }
    }
  }
  return figures;
}
