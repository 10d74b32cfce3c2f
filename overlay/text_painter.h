// Names and messages drawn with DirectWrite: a layout kept per text, size and
// weight; a font fallback that sends emoji to the bundled colour font; and
// each layout's glyph runs turned once into a picture of its own (coverage
// for plain glyphs, premultiplied colour for emoji layers) that is blended
// into the frame wherever the text goes. GDI+ keeps drawing shapes and images.
#pragma once

#include <windows.h>

#include <dwrite_2.h>
#include <wrl/client.h>

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "overlay/frame_layout.h"

struct FrameBuffer;

// A text as drawn, relative to its layout's top-left corner: plain glyphs as
// coverage (inked at draw time), colour layers as premultiplied BGRA.
struct TextPicture {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> coverage;
  std::vector<uint32_t> colour;  // empty when the text has no colour glyphs
};

// One glyph run of a laid-out text, for checking what fonts drew.
struct GlyphRunRecord {
  std::wstring family;          // empty when the face is not in a known collection
  std::vector<uint16_t> glyphs;
  std::vector<float> lefts;     // each glyph's left edge, layout coordinates
  bool rightToLeft = false;
  bool colour = false;          // has colour layers
};

// The label faces wanted, best first: the system's UI face, then faces the
// set-up installs.
extern const std::vector<std::wstring> kLabelFaces;

class TextPainter {
 public:
  // Factory, the first of faces that opens, the bundled emoji font (a file
  // path; missing: emoji fall to the system's emoji font) and the fallback.
  // False when DirectWrite or every font is missing; then nothing is drawn.
  bool Open(const std::wstring& emojiFontPath, const std::vector<std::wstring>& faces = kLabelFaces);
  // Open at the first text laid out, or at OpenDeferred: under Wine,
  // DirectWrite's font enumeration takes longer than the rest of the start.
  void OpenOnFirstUse(const std::wstring& emojiFontPath, const std::vector<std::wstring>& faces = kLabelFaces);
  // What OpenOnFirstUse put off, now; nothing when nothing is put off.
  void OpenDeferred();
  void Close();
  const std::wstring& Face() const { return face_; }

  // Width and height of the text's layout box, grown to hold its ink where a
  // glyph reaches past it; zero when not open. Remembered apart from the
  // layouts, so the cuts tried for a long name cost once, not every frame.
  TextExtent Measure(const std::wstring& text, float points, bool bold);
  // The text with its layout box's top-left corner at (x, y), window
  // coordinates, blended into frame within clip (empty: the whole frame).
  // argb: the ink of plain glyphs; colour glyphs take its alpha. silhouette:
  // colour glyphs are inked too (a shadow).
  void Draw(FrameBuffer& frame, const PixelRect& clip, const std::wstring& text, float points, bool bold, int x,
            int y, uint32_t argb, bool silhouette = false);
  // The layout's width alone, nothing kept: for trying out cuts of a text.
  float LayoutWidth(const std::wstring& text, float points, bool bold);
  // Centred in the box.
  void DrawCentred(FrameBuffer& frame, const PixelRect& clip, const std::wstring& text, float points, bool bold,
                   const PixelRect& box, uint32_t argb, bool silhouette = false);
  std::vector<GlyphRunRecord> GlyphRuns(const std::wstring& text, float points, bool bold);
  // Between frames: forgets the kept layouts, or the measures, once many
  // piled up (an entry animation passes through a new size every frame).
  void Trim();
  // A kept layout's picture made afresh (what a first draw costs beyond the
  // layout; the benchmark and the ink checks use it).
  TextPicture Rasterize(const std::wstring& text, float points, bool bold);

 private:
  struct Kept {
    Microsoft::WRL::ComPtr<IDWriteTextLayout> layout;
    TextExtent extent;
    bool pictured = false;
    TextPicture picture;
  };
  Kept* Find(const std::wstring& text, float points, bool bold);
  Microsoft::WRL::ComPtr<IDWriteTextLayout> Layout(const std::wstring& text, float points, bool bold);
  IDWriteTextFormat* Format(float points, bool bold);
  TextPicture Picture(IDWriteTextLayout& layout);
  const TextPicture& Pictured(Kept& kept);
  std::wstring FamilyOf(IDWriteFontFace* face);

  Microsoft::WRL::ComPtr<IDWriteFactory2> factory_;
  Microsoft::WRL::ComPtr<IDWriteFontCollection> system_;
  Microsoft::WRL::ComPtr<IDWriteFontCollection> bundled_;
  Microsoft::WRL::ComPtr<IDWriteFontFallback> fallback_;
  bool loaderRegistered_ = false;
  bool deferred_ = false;  // Open's arguments wait below
  std::wstring deferredEmojiPath_;
  std::vector<std::wstring> deferredFaces_;
  std::wstring face_;
  std::map<std::pair<float, bool>, Microsoft::WRL::ComPtr<IDWriteTextFormat>> formats_;
  std::map<std::tuple<std::wstring, float, bool>, Kept> kept_;
  std::map<std::tuple<std::wstring, float, bool>, TextExtent> measured_;
};
