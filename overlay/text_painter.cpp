#include "overlay/text_painter.h"

#include <algorithm>
#include <functional>

#include "app/log.h"
#include "overlay/frame_buffer.h"

using Microsoft::WRL::ComPtr;

const std::vector<std::wstring> kLabelFaces = {L"Segoe UI", L"Noto Sans CJK JP", L"Noto Sans", L"DejaVu Sans"};

namespace {

constexpr size_t kKeptLayouts = 64;
constexpr size_t kKeptMeasures = 512;
constexpr float kDipsPerPoint = 96.0f / 72.0f;
constexpr float kUnbounded = 100000.0f;
const wchar_t kBundledEmojiFamily[] = L"Twemoji Mozilla";
const wchar_t kLog[] = L"[Renderer] ";

void LogFailure(const wchar_t* call, HRESULT hr) {
  wchar_t code[16];
  swprintf(code, sizeof code / sizeof code[0], L"0x%08lX", static_cast<unsigned long>(hr));
  WriteLogLine(std::wstring(kLog) + call + L" failed: " + code);
}

// A private font collection of one file, for the bundled emoji font: the
// collection key is the file's path.
class OneFileEnumerator : public IDWriteFontFileEnumerator {
 public:
  OneFileEnumerator(IDWriteFactory* factory, std::wstring path) : factory_(factory), path_(std::move(path)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IDWriteFontFileEnumerator)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE MoveNext(BOOL* hasCurrent) override {
    *hasCurrent = FALSE;
    if (done_) return S_OK;
    done_ = true;
    HRESULT hr = factory_->CreateFontFileReference(path_.c_str(), nullptr, &current_);
    *hasCurrent = SUCCEEDED(hr);
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetCurrentFontFile(IDWriteFontFile** file) override {
    *file = current_.Get();
    if (!*file) return E_FAIL;
    (*file)->AddRef();
    return S_OK;
  }

 private:
  virtual ~OneFileEnumerator() = default;
  LONG refs_ = 1;
  IDWriteFactory* factory_;
  std::wstring path_;
  bool done_ = false;
  ComPtr<IDWriteFontFile> current_;
};

// Lives for the process: DirectWrite may hold it past Close.
class OneFileCollectionLoader : public IDWriteFontCollectionLoader {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IDWriteFontCollectionLoader)) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateEnumeratorFromKey(IDWriteFactory* factory, const void* key, UINT32 keySize,
                                                    IDWriteFontFileEnumerator** enumerator) override {
    std::wstring path(static_cast<const wchar_t*>(key), keySize / sizeof(wchar_t));
    *enumerator = new OneFileEnumerator(factory, path);
    return S_OK;
  }
};
OneFileCollectionLoader g_oneFileLoader;

// Hands every glyph run of a layout to a callback; stateless towards
// DirectWrite, so it lives on the caller's stack.
class RunSink : public IDWriteTextRenderer {
 public:
  using OnRun = std::function<void(float x, float y, DWRITE_MEASURING_MODE mode, const DWRITE_GLYPH_RUN& run,
                                   const DWRITE_GLYPH_RUN_DESCRIPTION* description)>;
  explicit RunSink(OnRun onRun) : onRun_(std::move(onRun)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IDWritePixelSnapping) || iid == __uuidof(IDWriteTextRenderer)) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE IsPixelSnappingDisabled(void*, BOOL* disabled) override {
    *disabled = FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetCurrentTransform(void*, DWRITE_MATRIX* transform) override {
    *transform = DWRITE_MATRIX{1, 0, 0, 1, 0, 0};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPixelsPerDip(void*, FLOAT* pixelsPerDip) override {
    *pixelsPerDip = 1.0f;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DrawGlyphRun(void*, FLOAT x, FLOAT y, DWRITE_MEASURING_MODE mode,
                                         const DWRITE_GLYPH_RUN* run, const DWRITE_GLYPH_RUN_DESCRIPTION* description,
                                         IUnknown*) override {
    onRun_(x, y, mode, *run, description);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DrawUnderline(void*, FLOAT, FLOAT, const DWRITE_UNDERLINE*, IUnknown*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DrawStrikethrough(void*, FLOAT, FLOAT, const DWRITE_STRIKETHROUGH*, IUnknown*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DrawInlineObject(void*, FLOAT, FLOAT, IDWriteInlineObject*, BOOL, BOOL,
                                             IUnknown*) override {
    return S_OK;
  }

 private:
  OnRun onRun_;
};

// One glyph run's coverage, at its place in layout pixels; colour 0 means
// "the ink".
struct Layer {
  RECT bounds = {};
  std::vector<uint8_t> alpha;
  uint32_t colour = 0;  // premultiplied BGRA at full coverage
};

bool Coverage(IDWriteFactory2& factory, const DWRITE_GLYPH_RUN& run, DWRITE_MEASURING_MODE mode, float x, float y,
              Layer& layer) {
  ComPtr<IDWriteGlyphRunAnalysis> analysis;
  HRESULT hr = factory.CreateGlyphRunAnalysis(&run, nullptr, DWRITE_RENDERING_MODE_NATURAL_SYMMETRIC, mode,
                                              DWRITE_GRID_FIT_MODE_DEFAULT, DWRITE_TEXT_ANTIALIAS_MODE_GRAYSCALE, x, y,
                                              &analysis);
  if (FAILED(hr) || FAILED(analysis->GetAlphaTextureBounds(DWRITE_TEXTURE_ALIASED_1x1, &layer.bounds))) return false;
  const RECT& b = layer.bounds;
  if (b.right <= b.left || b.bottom <= b.top) return false;
  layer.alpha.resize(static_cast<size_t>(b.right - b.left) * static_cast<size_t>(b.bottom - b.top));
  return SUCCEEDED(analysis->CreateAlphaTexture(DWRITE_TEXTURE_ALIASED_1x1, &layer.bounds, layer.alpha.data(),
                                             static_cast<UINT32>(layer.alpha.size())));
}

uint32_t PremultipliedBgra(const DWRITE_COLOR_F& c) {
  auto channel = [](float v) { return static_cast<uint32_t>(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f); };
  uint32_t a = channel(c.a);
  return a << 24 | channel(c.r * c.a) << 16 | channel(c.g * c.a) << 8 | channel(c.b * c.a);
}

// Colour fonts split a glyph into layers of their own colours; everything
// else is one layer in the ink.
void RunLayers(IDWriteFactory2& factory, float x, float y, DWRITE_MEASURING_MODE mode, const DWRITE_GLYPH_RUN& run,
               const DWRITE_GLYPH_RUN_DESCRIPTION* description, std::vector<Layer>& layers) {
  ComPtr<IDWriteColorGlyphRunEnumerator> colourRuns;
  if (SUCCEEDED(factory.TranslateColorGlyphRun(x, y, &run, description, mode, nullptr, 0, &colourRuns))) {
    BOOL more = FALSE;
    while (SUCCEEDED(colourRuns->MoveNext(&more)) && more) {
      const DWRITE_COLOR_GLYPH_RUN* part = nullptr;
      if (FAILED(colourRuns->GetCurrentRun(&part))) break;
      Layer layer;
      if (part->paletteIndex != 0xFFFF) layer.colour = PremultipliedBgra(part->runColor);
      if (Coverage(factory, part->glyphRun, mode, part->baselineOriginX, part->baselineOriginY, layer))
        layers.push_back(std::move(layer));
    }
    return;
  }
  Layer layer;
  if (Coverage(factory, run, mode, x, y, layer)) layers.push_back(std::move(layer));
}

uint8_t OverByte(uint32_t top, uint32_t under) { return static_cast<uint8_t>(top + under * (255 - top) / 255); }

uint32_t OverPixel(uint32_t top, uint32_t under) {
  uint32_t keep = 255 - (top >> 24);
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8)
    out |= std::min<uint32_t>(255, (top >> shift & 255) + (under >> shift & 255) * keep / 255) << shift;
  return out;
}

uint32_t Scale(uint32_t premultiplied, uint32_t alpha) {
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) out |= ((premultiplied >> shift & 255) * alpha / 255) << shift;
  return out;
}

TextPicture Compose(const std::vector<Layer>& layers) {
  TextPicture picture;
  if (layers.empty()) return picture;
  RECT all = layers[0].bounds;
  bool coloured = false;
  for (const Layer& layer : layers) {
    all.left = std::min(all.left, layer.bounds.left);
    all.top = std::min(all.top, layer.bounds.top);
    all.right = std::max(all.right, layer.bounds.right);
    all.bottom = std::max(all.bottom, layer.bounds.bottom);
    coloured |= layer.colour != 0;
  }
  picture.left = all.left;
  picture.top = all.top;
  picture.width = all.right - all.left;
  picture.height = all.bottom - all.top;
  const size_t size = static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height);
  picture.coverage.assign(size, 0);
  if (coloured) picture.colour.assign(size, 0);
  for (const Layer& layer : layers) {
    const int w = layer.bounds.right - layer.bounds.left;
    for (int row = layer.bounds.top; row < layer.bounds.bottom; ++row) {
      const uint8_t* in = &layer.alpha[static_cast<size_t>(row - layer.bounds.top) * w];
      size_t at = static_cast<size_t>(row - all.top) * picture.width + (layer.bounds.left - all.left);
      for (int i = 0; i < w; ++i, ++at) {
        if (!in[i]) continue;
        if (layer.colour)
          picture.colour[at] = OverPixel(Scale(layer.colour, in[i]), picture.colour[at]);
        else
          picture.coverage[at] = OverByte(in[i], picture.coverage[at]);
      }
    }
  }
  return picture;
}

// The picture at (x, y) (window coordinates) over the frame's pixels within clip.
void Blend(FrameBuffer& frame, const PixelRect& clip, const TextPicture& picture, int x, int y, uint32_t argb,
           bool silhouette) {
  if (!frame.pixels || picture.width <= 0) return;
  PixelRect area{x + picture.left, y + picture.top, x + picture.left + picture.width, y + picture.top + picture.height};
  area = Overlap(area, frame.Bounds());
  if (!clip.Empty()) area = Overlap(area, clip);
  if (area.Empty()) return;
  const uint32_t inkAlpha = argb >> 24;
  const uint32_t ink = Scale(0xFF000000u | (argb & 0xFFFFFF), inkAlpha);  // premultiplied
  auto* pixels = static_cast<uint32_t*>(frame.pixels);
  for (int py = area.top; py < area.bottom; ++py) {
    size_t from = static_cast<size_t>(py - y - picture.top) * picture.width + (area.left - x - picture.left);
    uint32_t* out = pixels + static_cast<size_t>(py - frame.originY) * frame.width + (area.left - frame.originX);
    for (int px = area.left; px < area.right; ++px, ++from, ++out) {
      uint32_t covered = picture.coverage[from];
      uint32_t colour = picture.colour.empty() ? 0 : picture.colour[from];
      if (!covered && !colour) continue;  // most of a text's box
      if (silhouette) covered = OverByte(colour >> 24, covered);
      uint32_t top = Scale(ink, covered);
      if (!silhouette && colour) top = OverPixel(Scale(colour, inkAlpha), top);
      if (top) *out = OverPixel(top, *out);
    }
  }
}

bool FaceOpens(IDWriteFontCollection& collection, const std::wstring& name) {
  UINT32 index = 0;
  BOOL exists = FALSE;
  if (FAILED(collection.FindFamilyName(name.c_str(), &index, &exists)) || !exists) return false;
  ComPtr<IDWriteFontFamily> family;
  ComPtr<IDWriteFont> font;
  ComPtr<IDWriteFontFace> face;
  return SUCCEEDED(collection.GetFontFamily(index, &family)) &&
         SUCCEEDED(family->GetFirstMatchingFont(DWRITE_FONT_WEIGHT_BOLD, DWRITE_FONT_STRETCH_NORMAL,
                                                DWRITE_FONT_STYLE_NORMAL, &font)) &&
         SUCCEEDED(font->CreateFontFace(&face));
}

std::wstring FirstName(IDWriteLocalizedStrings* names) {
  UINT32 length = 0;
  if (!names || names->GetCount() == 0 || FAILED(names->GetStringLength(0, &length))) return std::wstring();
  std::wstring name(length + 1, L'\0');
  if (FAILED(names->GetString(0, &name[0], length + 1))) return std::wstring();
  name.resize(length);
  return name;
}

// Any family of the collection that opens: a system without the wanted faces still draws text.
std::wstring AnyFaceThatOpens(IDWriteFontCollection& collection) {
  for (UINT32 i = 0; i < collection.GetFontFamilyCount(); ++i) {
    ComPtr<IDWriteFontFamily> family;
    ComPtr<IDWriteLocalizedStrings> names;
    if (FAILED(collection.GetFontFamily(i, &family)) || FAILED(family->GetFamilyNames(&names))) continue;
    std::wstring name = FirstName(names.Get());
    if (!name.empty() && FaceOpens(collection, name)) return name;
  }
  return std::wstring();
}

const DWRITE_UNICODE_RANGE kEmojiRanges[] = {
    {0x203C, 0x203C},   {0x2049, 0x2049},   {0x20E3, 0x20E3},   {0x2139, 0x2139},   {0x2194, 0x21AA},
    {0x231A, 0x23FF},   {0x24C2, 0x24C2},   {0x25AA, 0x25FE},   {0x2600, 0x27BF},   {0x2934, 0x2935},
    {0x2B05, 0x2B55},   {0x3030, 0x3030},   {0x303D, 0x303D},   {0x3297, 0x3299},   {0xFE0F, 0xFE0F},
    {0x1F000, 0x1FAFF}, {0xE0020, 0xE007F},
};
const DWRITE_UNICODE_RANGE kMathRanges[] = {{0x1D400, 0x1D7FF}};
const DWRITE_UNICODE_RANGE kArabicRanges[] = {{0x0600, 0x06FF}, {0x0750, 0x077F}, {0x08A0, 0x08FF},
                                              {0xFB50, 0xFDFF}, {0xFE70, 0xFEFF}};

// Families are listed only where they hold the whole range: Wine takes the
// first family of a mapping that exists, not the first that has the character.
void AddMapping(IDWriteFontFallbackBuilder& builder, const DWRITE_UNICODE_RANGE* ranges, size_t count,
                std::initializer_list<const wchar_t*> families, IDWriteFontCollection* collection) {
  std::vector<const WCHAR*> names(families);
  HRESULT hr = builder.AddMapping(ranges, static_cast<UINT32>(count), names.data(), static_cast<UINT32>(names.size()),
                                  collection, nullptr, nullptr, 1.0f);
  if (FAILED(hr)) LogFailure(L"IDWriteFontFallbackBuilder::AddMapping", hr);
}

}  // namespace

bool TextPainter::Open(const std::wstring& emojiFontPath, const std::vector<std::wstring>& faces) {
  Close();
  HRESULT hr = DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory2),
                                   reinterpret_cast<IUnknown**>(factory_.GetAddressOf()));
  if (FAILED(hr)) return LogFailure(L"DWriteCreateFactory", hr), false;
  if (FAILED(hr = factory_->GetSystemFontCollection(&system_, FALSE)))
    return LogFailure(L"GetSystemFontCollection", hr), Close(), false;
  for (const std::wstring& name : faces)
    if (FaceOpens(*system_.Get(), name)) {
      face_ = name;
      break;
    }
  if (face_.empty()) face_ = AnyFaceThatOpens(*system_.Get());
  if (face_.empty()) return WriteLogLine(std::wstring(kLog) + L"No font opens: texts are not drawn"), Close(), false;
  WriteLogLine(std::wstring(kLog) + L"Text font: " + face_);

  if (SUCCEEDED(factory_->RegisterFontCollectionLoader(&g_oneFileLoader))) loaderRegistered_ = true;
  hr = factory_->CreateCustomFontCollection(&g_oneFileLoader, emojiFontPath.c_str(),
                                            static_cast<UINT32>(emojiFontPath.size() * sizeof(wchar_t)), &bundled_);
  if (FAILED(hr) || !FaceOpens(*bundled_.Get(), kBundledEmojiFamily)) {
    WriteLogLine(std::wstring(kLog) + L"Emoji font not loaded: " + emojiFontPath);
    bundled_.Reset();
  }

  ComPtr<IDWriteFontFallbackBuilder> builder;
  if (FAILED(hr = factory_->CreateFontFallbackBuilder(&builder)))
    return LogFailure(L"CreateFontFallbackBuilder", hr), true;  // texts still draw, with the system's fallback
  const size_t emojiCount = sizeof kEmojiRanges / sizeof kEmojiRanges[0];
  if (bundled_) AddMapping(*builder.Get(), kEmojiRanges, emojiCount, {kBundledEmojiFamily}, bundled_.Get());
  AddMapping(*builder.Get(), kEmojiRanges, emojiCount, {L"Segoe UI Emoji"}, system_.Get());
  AddMapping(*builder.Get(), kMathRanges, 1, {L"Cambria Math", L"Noto Sans Math"}, system_.Get());
  AddMapping(*builder.Get(), kArabicRanges, sizeof kArabicRanges / sizeof kArabicRanges[0],
             {L"Segoe UI", L"Noto Sans Arabic", L"DejaVu Sans"}, system_.Get());
  // Everything else as the system falls back (Wine answers E_NOTIMPL here yet
  // still falls back per script).
  ComPtr<IDWriteFontFallback> systemFallback;
  if (SUCCEEDED(factory_->GetSystemFontFallback(&systemFallback))) builder->AddMappings(systemFallback.Get());
  if (FAILED(hr = builder->CreateFontFallback(&fallback_))) LogFailure(L"CreateFontFallback", hr);
  return true;
}

void TextPainter::OpenOnFirstUse(const std::wstring& emojiFontPath, const std::vector<std::wstring>& faces) {
  Close();
  deferred_ = true;
  deferredEmojiPath_ = emojiFontPath;
  deferredFaces_ = faces;
}

void TextPainter::OpenDeferred() {
  if (!deferred_) return;
  const std::wstring emojiFontPath = std::move(deferredEmojiPath_);
  const std::vector<std::wstring> faces = std::move(deferredFaces_);
  Open(emojiFontPath, faces);  // clears deferred_
}

void TextPainter::Close() {
  deferred_ = false;
  deferredEmojiPath_.clear();
  deferredFaces_.clear();
  kept_.clear();
  measured_.clear();
  formats_.clear();
  fallback_.Reset();
  bundled_.Reset();
  if (loaderRegistered_) factory_->UnregisterFontCollectionLoader(&g_oneFileLoader);
  loaderRegistered_ = false;
  system_.Reset();
  factory_.Reset();
  face_.clear();
}

IDWriteTextFormat* TextPainter::Format(float points, bool bold) {
  auto key = std::make_pair(points, bold);
  auto found = formats_.find(key);
  if (found != formats_.end()) return found->second.Get();
  ComPtr<IDWriteTextFormat> format;
  HRESULT hr = factory_->CreateTextFormat(face_.c_str(), nullptr, bold ? DWRITE_FONT_WEIGHT_BOLD : DWRITE_FONT_WEIGHT_NORMAL,
                                          DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL,
                                          points * kDipsPerPoint, L"en-us", &format);
  if (FAILED(hr)) return LogFailure(L"CreateTextFormat", hr), nullptr;
  format->SetWordWrapping(DWRITE_WORD_WRAPPING_NO_WRAP);
  ComPtr<IDWriteTextFormat1> withFallback;
  if (fallback_ && SUCCEEDED(format.As(&withFallback))) withFallback->SetFontFallback(fallback_.Get());
  return (formats_[key] = format).Get();
}

ComPtr<IDWriteTextLayout> TextPainter::Layout(const std::wstring& text, float points, bool bold) {
  OpenDeferred();
  ComPtr<IDWriteTextLayout> layout;
  IDWriteTextFormat* format = factory_ && !text.empty() ? Format(points, bold) : nullptr;
  if (!format) return layout;
  HRESULT hr = factory_->CreateTextLayout(text.c_str(), static_cast<UINT32>(text.size()), format, kUnbounded,
                                          kUnbounded, &layout);
  if (FAILED(hr)) LogFailure(L"CreateTextLayout", hr);
  return layout;
}

float TextPainter::LayoutWidth(const std::wstring& text, float points, bool bold) {
  ComPtr<IDWriteTextLayout> layout = Layout(text, points, bold);
  DWRITE_TEXT_METRICS metrics = {};
  return layout && SUCCEEDED(layout->GetMetrics(&metrics)) ? metrics.widthIncludingTrailingWhitespace : 0.0f;
}

TextPainter::Kept* TextPainter::Find(const std::wstring& text, float points, bool bold) {
  auto key = std::make_tuple(text, points, bold);
  auto found = kept_.find(key);
  if (found != kept_.end()) return &found->second;
  Kept kept;
  kept.layout = Layout(text, points, bold);
  if (!kept.layout) return nullptr;
  DWRITE_TEXT_METRICS metrics = {};
  if (SUCCEEDED(kept.layout->GetMetrics(&metrics)))
    kept.extent = TextExtent{metrics.widthIncludingTrailingWhitespace, metrics.height};
  return &(kept_[key] = std::move(kept));
}

TextPicture TextPainter::Picture(IDWriteTextLayout& layout) {
  std::vector<Layer> layers;
  RunSink sink([&](float x, float y, DWRITE_MEASURING_MODE mode, const DWRITE_GLYPH_RUN& run,
                   const DWRITE_GLYPH_RUN_DESCRIPTION* description) {
    RunLayers(*factory_.Get(), x, y, mode, run, description, layers);
  });
  layout.Draw(nullptr, &sink, 0.0f, 0.0f);
  return Compose(layers);
}

TextPicture TextPainter::Rasterize(const std::wstring& text, float points, bool bold) {
  Kept* kept = Find(text, points, bold);
  return kept ? Picture(*kept->layout.Get()) : TextPicture();
}

const TextPicture& TextPainter::Pictured(Kept& kept) {
  if (!kept.pictured) {
    kept.picture = Picture(*kept.layout.Get());
    kept.pictured = true;
    // A mark or an emoji may reach past the layout box; what is measured covers the ink.
    const TextPicture& p = kept.picture;
    if (p.width > 0) {
      kept.extent.width = std::max(kept.extent.width, static_cast<float>(p.left + p.width));
      kept.extent.height = std::max(kept.extent.height, static_cast<float>(p.top + p.height));
    }
  }
  return kept.picture;
}

TextExtent TextPainter::Measure(const std::wstring& text, float points, bool bold) {
  auto key = std::make_tuple(text, points, bold);
  auto found = measured_.find(key);
  if (found != measured_.end()) return found->second;
  Kept* kept = Find(text, points, bold);
  if (!kept) return TextExtent();
  Pictured(*kept);
  return measured_[key] = kept->extent;
}

void TextPainter::Draw(FrameBuffer& frame, const PixelRect& clip, const std::wstring& text, float points, bool bold,
                       int x, int y, uint32_t argb, bool silhouette) {
  Kept* kept = Find(text, points, bold);
  if (kept) Blend(frame, clip, Pictured(*kept), x, y, argb, silhouette);
}

void TextPainter::DrawCentred(FrameBuffer& frame, const PixelRect& clip, const std::wstring& text, float points,
                              bool bold, const PixelRect& box, uint32_t argb, bool silhouette) {
  TextExtent extent = Measure(text, points, bold);
  int x = box.left + static_cast<int>((static_cast<float>(box.right - box.left) - extent.width) / 2.0f + 0.5f);
  int y = box.top + static_cast<int>((static_cast<float>(box.bottom - box.top) - extent.height) / 2.0f + 0.5f);
  Draw(frame, clip, text, points, bold, x, y, argb, silhouette);
}

std::wstring TextPainter::FamilyOf(IDWriteFontFace* face) {
  for (IDWriteFontCollection* collection : {system_.Get(), bundled_.Get()}) {
    ComPtr<IDWriteFont> font;
    ComPtr<IDWriteFontFamily> family;
    ComPtr<IDWriteLocalizedStrings> names;
    if (collection && SUCCEEDED(collection->GetFontFromFontFace(face, &font)) &&
        SUCCEEDED(font->GetFontFamily(&family)) && SUCCEEDED(family->GetFamilyNames(&names)))
      return FirstName(names.Get());
  }
  return std::wstring();
}

std::vector<GlyphRunRecord> TextPainter::GlyphRuns(const std::wstring& text, float points, bool bold) {
  std::vector<GlyphRunRecord> records;
  Kept* kept = Find(text, points, bold);
  if (!kept) return records;
  RunSink sink([&](float x, float y, DWRITE_MEASURING_MODE mode, const DWRITE_GLYPH_RUN& run,
                   const DWRITE_GLYPH_RUN_DESCRIPTION* description) {
    GlyphRunRecord record;
    record.family = FamilyOf(run.fontFace);
    record.rightToLeft = run.bidiLevel & 1;
    float pen = x;
    for (UINT32 i = 0; i < run.glyphCount; ++i) {
      float advance = run.glyphAdvances ? run.glyphAdvances[i] : 0.0f;
      if (record.rightToLeft) pen -= advance;
      record.glyphs.push_back(run.glyphIndices[i]);
      record.lefts.push_back(pen);
      if (!record.rightToLeft) pen += advance;
    }
    ComPtr<IDWriteColorGlyphRunEnumerator> layers;
    record.colour = SUCCEEDED(factory_->TranslateColorGlyphRun(x, y, &run, description, mode, nullptr, 0, &layers));
    records.push_back(std::move(record));
  });
  kept->layout->Draw(nullptr, &sink, 0.0f, 0.0f);
  return records;
}

void TextPainter::Trim() {
  if (kept_.size() > kKeptLayouts) kept_.clear();
  if (measured_.size() > kKeptMeasures) measured_.clear();
}
