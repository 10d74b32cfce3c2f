// The fonts the overlay draws with, kept across frames: finding a family
// walks the installed fonts, which costs more than drawing a whole tile. The
// installed fonts do not change during a run, and a font of one family, size
// and style draws the same every time.
#pragma once

#include <map>
#include <memory>
#include <tuple>

#include "overlay/gdiplus_headers.h"

enum class FontFace {
  kLabel,    // "Segoe UI Emoji", else "Segoe UI"
  kInitial,  // "Segoe UI"
};

class FontCache {
 public:
  // The face at that size (points) and style; null only on a system without
  // fonts. Valid until the next Trim or Release.
  const Gdiplus::Font* Get(FontFace face, float points, INT style);
  // Between frames: forgets the fonts once many sizes piled up (an entry
  // animation passes through a new size every frame).
  void Trim();
  // Before GDI+ stops.
  void Release();

 private:
  const Gdiplus::FontFamily* Family(FontFace face);

  std::unique_ptr<Gdiplus::FontFamily> families_[2];
  bool resolved_[2] = {false, false};
  std::map<std::tuple<int, float, INT>, std::unique_ptr<Gdiplus::Font>> fonts_;
};
