// GDI+ for every unit that draws or decodes. The SDK's GDI+ headers call min
// and max unqualified, which NOMINMAX takes away; they find std's here.
// objidl.h comes first: WIN32_LEAN_AND_MEAN leaves out PROPID and IStream.
#pragma once

#include <windows.h>

#include <algorithm>
#include <objidl.h>

namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus

#include <gdiplus.h>

// GDI+ from its start-up to its shutdown.
class GdiplusSession {
 public:
  GdiplusSession() = default;
  ~GdiplusSession() { Stop(); }
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  // True when GDI+ runs (already or now).
  bool Start() {
    Gdiplus::GdiplusStartupInput input;
    if (!token_ && Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok) token_ = 0;
    return token_ != 0;
  }
  void Stop() {
    if (token_) Gdiplus::GdiplusShutdown(token_);
    token_ = 0;
  }
  bool Running() const { return token_ != 0; }

 private:
  ULONG_PTR token_ = 0;
};
