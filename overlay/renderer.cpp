#include "overlay/renderer.h"

#include <algorithm>

#include "app/config.h"
#include "app/log.h"
#include "overlay/card_geometry.h"

namespace {

constexpr uint32_t kLoggedFrames = 3;
constexpr size_t kKeptFittedContents = 16;  // more than the cards held at once
const wchar_t kEmojiFontFile[] = L"Twemoji.ttf";  // beside the executable
constexpr uint32_t kPlaceholderRgb = 0x36393F;
constexpr uint32_t kBotLabelRgb = 0x5865F2;
// The muted-for-you badge: the user's own doing, so not the member's red.
constexpr uint32_t kLocalMuteRgb = 0x80848E;
constexpr uint32_t kLiveRgb = 0xED4245;
constexpr uint32_t kWhiteRgb = 0xFFFFFF;
constexpr uint32_t kBlackRgb = 0x000000;

uint32_t RgbOf(ConfigColor c) {
  return static_cast<uint32_t>(ColorRed(c) << 16 | ColorGreen(c) << 8 | ColorBlue(c));
}

Gdiplus::ARGB Opaque(ConfigColor c) { return MakeArgb(255.0f, RgbOf(c)); }

void ApplyFrameSettings(Gdiplus::Graphics& graphics) {
  graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
  graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
}

float Clamp01(float value) { return value > 0.0f ? std::min(value, 1.0f) : 0.0f; }

// One tile's drawing: where it goes, what it shows, and how dimmed.
struct Tile {
  const DrawContext& context;
  Gdiplus::Graphics& g;
  const TileItem& item;
  float dim;  // 1 while speaking, else inactive_opacity

  const DrawSettings& Settings() const { return context.settings; }
  // Pens and offsets are those at 96 DPI, times the display scale.
  float Scale() const { return context.settings.display_scale; }
  const TileLook& Look() const { return item.look; }
  int X() const { return item.place.x; }
  int Y() const { return item.place.y; }
  int Size() const { return item.place.size; }
};

void DrawRings(const Tile& t) {
  const float s = t.Scale();
  const auto x = static_cast<float>(t.X()), y = static_cast<float>(t.Y()), size = static_cast<float>(t.Size());
  if (t.Look().speaking) {
    Gdiplus::Pen ring(Gdiplus::Color(Opaque(t.Settings().speaking_color)), kSpeakingRingPen * s);
    const float out = kSpeakingRingOut * s;
    t.g.DrawEllipse(&ring, x - out, y - out, size + 2.0f * out, size + 2.0f * out);
  }
  for (int i = kHaloRings; i >= 1; --i) {
    const float out = HaloOut(i) * s;
    Gdiplus::Pen halo(Gdiplus::Color(MakeArgb((110.0f - 20.0f * i) * t.dim, kBlackRgb)), HaloPen(i) * s);
    t.g.DrawEllipse(&halo, x - out, y - out, size + 2.0f * out, size + 2.0f * out);
  }
}

// A silent tile's outline in the border colour, over the avatar's edge; at
// border_opacity 0 (the default) there is none, as there never was.
void DrawBorder(const Tile& t) {
  float opacity = Clamp01(t.Settings().border_opacity);
  if (t.Look().speaking || opacity <= 0.0f) return;
  Gdiplus::Pen pen(Gdiplus::Color(MakeArgb(255.0f * opacity, RgbOf(t.Settings().border_color))), 2.0f * t.Scale());
  t.g.DrawEllipse(&pen, t.X(), t.Y(), t.Size(), t.Size());
}

void DrawAvatarImage(const Tile& t, Gdiplus::Image& image) {
  Gdiplus::GraphicsPath circle;
  circle.AddEllipse(t.X(), t.Y(), t.Size(), t.Size());
  Gdiplus::Region clip(&circle);
  Gdiplus::GraphicsState outer = t.g.Save();  // keeps the frame's own clip
  t.g.SetClip(&clip, Gdiplus::CombineModeIntersect);
  Gdiplus::Rect target(t.X(), t.Y(), t.Size(), t.Size());
  if (t.Look().speaking) {
    t.g.DrawImage(&image, target);
  } else {
    Gdiplus::ColorMatrix matrix = {{{1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 1, 0, 0}, {0, 0, 0, 1, 0}, {0, 0, 0, 0, 1}}};
    matrix.m[3][3] = Clamp01(t.Settings().inactive_opacity);
    Gdiplus::ImageAttributes attributes;
    attributes.SetColorMatrix(&matrix);
    t.g.DrawImage(&image, target, 0, 0, static_cast<INT>(image.GetWidth()), static_cast<INT>(image.GetHeight()),
                  Gdiplus::UnitPixel, &attributes);
  }
  t.g.Restore(outer);
}

void DrawPlaceholder(const Tile& t) {
  bool speaking = t.Look().speaking;
  Gdiplus::SolidBrush disc(Gdiplus::Color(MakeArgb(speaking ? 200.0f : 80.0f, kPlaceholderRgb)));
  t.g.FillEllipse(&disc, t.X(), t.Y(), t.Size(), t.Size());
  std::wstring initial = CardInitial(t.Look().name);
  if (initial.empty()) return;
  t.g.Flush(Gdiplus::FlushIntentionSync);  // the text is blended into the same pixels
  float points = static_cast<float>(t.Size()) / 2.5f;
  PixelRect box{t.X(), t.Y(), t.X() + t.Size(), t.Y() + t.Size()};
  const int shadow = ScalePx(2, t.Scale());
  DrawFrameTextCentred(t.context, initial, points, true,
                       PixelRect{box.left + shadow, box.top + shadow, box.right + shadow, box.bottom + shadow},
                       MakeArgb(speaking ? 150.0f : 60.0f, kBlackRgb), true);
  DrawFrameTextCentred(t.context, initial, points, true, box, MakeArgb(speaking ? 255.0f : 100.0f, kWhiteRgb));
}

// A red pill with a white "LIVE" for a stream, a white camera on a dark pill
// for a camera, as Discord's list marks them.
void DrawMarks(const Tile& t, const LabelPlace& label) {
  if (!label.live.Empty()) {
    const PixelRect& r = label.live;
    DrawRoundedRect(t.g, static_cast<float>(r.left), static_cast<float>(r.top), static_cast<float>(r.right - r.left),
                    static_cast<float>(r.bottom - r.top), 3.0f * t.Scale(), MakeArgb(255.0f, kLiveRgb), 0);
    t.g.Flush(Gdiplus::FlushIntentionSync);  // the text is blended into the same pixels
    DrawFrameTextCentred(t.context, kLiveMarkText, label.livePoints, true, r, MakeArgb(255.0f, kWhiteRgb));
  }
  if (!label.camera.Empty()) {
    const PixelRect& r = label.camera;
    const float w = static_cast<float>(r.right - r.left), h = static_cast<float>(r.bottom - r.top);
    DrawRoundedRect(t.g, static_cast<float>(r.left), static_cast<float>(r.top), w, h, 3.0f * t.Scale(),
                    MakeArgb(t.dim * 160.0f, kBlackRgb), 0);
    Gdiplus::SolidBrush white(Gdiplus::Color(MakeArgb(255.0f, kWhiteRgb)));
    const float x = static_cast<float>(r.left), y = static_cast<float>(r.top);
    t.g.FillRectangle(&white, x + w * 0.15f, y + h * 0.25f, w * 0.45f, h * 0.5f);  // the body
    Gdiplus::PointF lens[] = {{x + w * 0.62f, y + h * 0.5f}, {x + w * 0.88f, y + h * 0.25f}, {x + w * 0.88f, y + h * 0.75f}};
    t.g.FillPolygon(&white, lens, 3);
  }
}

void DrawLabel(const Tile& t) {
  const LabelPlace& label = t.item.label;
  if (label.text.width <= 0.0f) return;
  float lo = t.Settings().username_label_opacity;
  float base = t.Look().speaking ? 255.0f : 100.0f;
  DrawMarks(t, label);
  const PixelRect& pill = label.pill;
  const auto pillHeight = static_cast<float>(pill.bottom - pill.top);
  DrawRoundedRect(t.g, static_cast<float>(pill.left), static_cast<float>(pill.top),
                  static_cast<float>(pill.right - pill.left), pillHeight, static_cast<float>((pill.bottom - pill.top) / 2),
                  MakeArgb(t.dim * 120.0f * lo, kBlackRgb), 0);
  t.g.Flush(Gdiplus::FlushIntentionSync);  // the text is blended into the same pixels
  const int shadow = ScalePx(1, t.Scale());
  DrawFrameText(t.context, label.shown, label.points, true, label.textX + shadow, label.textY + shadow,
                MakeArgb(lo * t.dim * 100.0f, kBlackRgb), true);
  DrawFrameText(t.context, label.shown, label.points, true, label.textX, label.textY,
                MakeArgb(base * lo, t.Look().bot ? kBotLabelRgb : kWhiteRgb));
}

// Deafened wins over muted, and the member's own mute over the user's mute
// of them, which keeps the microphone on a grey disc.
void DrawBadge(const Tile& t) {
  bool deafened = t.Look().deafened;
  const ConfigColor ownColor = deafened ? t.Settings().deafened_color : t.Settings().muted_color;
  const Gdiplus::ARGB disc = deafened || t.Look().muted ? Opaque(ownColor) : MakeArgb(255.0f, kLocalMuteRgb);
  const float s = t.Scale();
  const int two = ScalePx(2, s), three = ScalePx(3, s);
  int d = t.Size() / 3;
  int bx = t.X() + t.Size() - d + two;
  int by = t.Y() + t.Size() - d + two;
  int cx = bx + d / 2;
  int cy = by + d / 2;
  Gdiplus::SolidBrush fill{Gdiplus::Color(disc)};
  t.g.FillEllipse(&fill, bx, by, d, d);
  Gdiplus::Pen glyph(Gdiplus::Color(MakeArgb(255.0f, kWhiteRgb)), 1.5f * s);
  if (deafened) {
    int q = d / 4;
    int h = q / 2;
    t.g.DrawLine(&glyph, cx - q, cy - h, cx - q, cy + h);
    t.g.DrawLine(&glyph, cx - q, cy - h, cx, cy - q);
    t.g.DrawLine(&glyph, cx - q, cy + h, cx, cy + q);
  } else {
    int m = d / 5;
    const int one = ScalePx(1, s);
    t.g.DrawRectangle(&glyph, cx - m, cy - m - one, 2 * m, 2 * m + two);
    t.g.DrawLine(&glyph, cx, cy + m + one, cx, cy + m + three);
  }
  Gdiplus::Pen slash(Gdiplus::Color(MakeArgb(255.0f, kWhiteRgb)), 2.0f * s);
  t.g.DrawLine(&slash, bx + three, by + d - three, bx + d - three, by + three);
}

std::unique_ptr<Renderer> g_renderer;

}  // namespace

Renderer& GetRenderer() { return *g_renderer; }

bool RendererInitialize() {
  if (g_renderer) return true;
  auto renderer = std::make_unique<Renderer>();
  if (!renderer->Start()) return false;
  g_renderer = std::move(renderer);
  return true;
}

void RendererShutdown() { g_renderer.reset(); }

bool Renderer::Start() {
  if (!gdiplus.Start()) return false;
  avatars.Open();
  // Without the font file, texts are left out and logged.
  text.OpenOnFirstUse(GetExeDirectory() + L"\\" + kEmojiFontFile);
  return true;
}

// GDI+, the first member, goes last: the pictures and fonts use it.
Renderer::~Renderer() {
  avatars.Close();
  text.Close();
}

void Renderer::TrimCaches() { text.Trim(); }

TextExtent Renderer::MeasureText(const std::wstring& content, float points, bool bold) {
  return text.Measure(content, points, bold);
}

std::wstring Renderer::CutContent(const std::wstring& content, const CardTextLine& line, float maxWidth) {
  if (cardText.points != line.points || cardText.fitted.size() > kKeptFittedContents) {
    cardText.fitted.clear();
    cardText.points = line.points;
  }
  auto found = cardText.fitted.find(content);
  if (found != cardText.fitted.end()) return found->second;
  auto measure = [this, &line](const std::wstring& candidate) {
    return text.LayoutWidth(candidate, line.points, line.bold);
  };
  return cardText.fitted[content] = EllipsizeContent(content, measure, maxWidth);
}

LayoutProbes Renderer::Probes() {
  LayoutProbes probes;
  probes.avatarShown = [this](const AvatarSource& source) {
    return avatars.Get(source.userId, source.avatarHash, source.guildId) != nullptr;
  };
  probes.textSize = [this](const std::wstring& content, float points, bool bold) {
    return MeasureText(content, points, bold);
  };
  probes.contentCut = [this](const std::wstring& content, const CardTextLine& line, float maxWidth) {
    return CutContent(content, line, maxWidth);
  };
  return probes;
}

void DrawTile(const DrawContext& context, const TileItem& item) {
  if (item.place.size < 1) return;
  std::unique_ptr<Gdiplus::Graphics> graphics = CreateFrameGraphics(context);
  if (!graphics) return;
  const TileLook& look = item.look;
  Tile tile{context, *graphics, item, look.speaking ? 1.0f : Clamp01(context.settings.inactive_opacity)};
  if (!context.settings.show_avatars) {  // the names alone, in their places
    if (item.labeled) DrawLabel(tile);
    return;
  }
  DrawRings(tile);
  if (Gdiplus::Image* image = context.renderer.avatars.Get(item.avatar.userId, item.avatar.avatarHash, item.avatar.guildId))
    DrawAvatarImage(tile, *image);
  else
    DrawPlaceholder(tile);
  DrawBorder(tile);
  if (item.labeled) DrawLabel(tile);
  if (look.deafened || look.muted || look.localMute) DrawBadge(tile);
}

void DrawItem(const DrawContext& context, const FrameItem& item) {
  if (const auto* tile = std::get_if<TileItem>(&item.what)) return DrawTile(context, *tile);
  if (const auto* card = std::get_if<CardItem>(&item.what)) return DrawCard(context, *card);
  DrawPip(context, std::get<PipItem>(item.what));
}

bool Renderer::EndFrame(const FrameBuffer& frame, HWND window, int x, int y, const PixelRect* dirty) {
  if (!frame.Dc() || !window) return false;
  GdiFlush();
  POINT destination = {x + frame.originX, y + frame.originY};
  SIZE size = {static_cast<LONG>(frame.width), static_cast<LONG>(frame.height)};
  POINT source = {0, 0};
  BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  RECT part = {};
  UPDATELAYEREDWINDOWINFO info = {};
  info.cbSize = sizeof(info);
  info.pptDst = &destination;
  info.psize = &size;
  info.hdcSrc = frame.Dc();
  info.pptSrc = &source;
  info.pblend = &blend;
  info.dwFlags = ULW_ALPHA;
  if (dirty) {
    part = {dirty->left - frame.originX, dirty->top - frame.originY, dirty->right - frame.originX,
            dirty->bottom - frame.originY};
    info.prcDirty = &part;
  }
  BOOL result = UpdateLayeredWindowIndirect(window, &info);
  DWORD error = GetLastError();
  if (++endFrameCount <= kLoggedFrames)
    WriteLogLine(L"[Renderer] EndFrame: UpdateLayeredWindow result=" + std::to_wstring(result) +
                 L" GetLastError=" + std::to_wstring(error) + L" size=" + std::to_wstring(frame.width) + L"x" +
                 std::to_wstring(frame.height));
  return result != FALSE;
}

Gdiplus::Image* GetAvatar(const AvatarSource& source) {
  if (!g_renderer) return nullptr;  // shut down: nothing new starts
  return g_renderer->avatars.Get(source.userId, source.avatarHash, source.guildId);
}

void DrawRoundedRect(Gdiplus::Graphics& graphics, float x, float y, float width, float height, float radius,
                     Gdiplus::ARGB fill, Gdiplus::ARGB outline, float outlineWidth) {
  // A radius beyond half the shorter side would fold the arcs over each other.
  float r = std::min(radius, std::min(width, height) / 2.0f);
  Gdiplus::GraphicsPath path;
  if (r > 0.0f) {
    float d = 2.0f * r;
    path.AddArc(x, y, d, d, 180.0f, 90.0f);
    path.AddArc(x + width - d, y, d, d, 270.0f, 90.0f);
    path.AddArc(x + width - d, y + height - d, d, d, 0.0f, 90.0f);
    path.AddArc(x, y + height - d, d, d, 90.0f, 90.0f);
    path.CloseFigure();
  } else {
    path.AddRectangle(Gdiplus::RectF(x, y, width, height));
  }
  if (fill >> 24) {
    Gdiplus::SolidBrush brush{Gdiplus::Color(fill)};
    graphics.FillPath(&brush, &path);
  }
  if (outline >> 24) {
    Gdiplus::Pen pen(Gdiplus::Color(outline), outlineWidth);
    graphics.DrawPath(&pen, &path);
  }
}

std::unique_ptr<Gdiplus::Graphics> CreateFrameGraphics(const DrawContext& context) {
  const FrameBuffer& frame = context.frame;
  if (!frame.Dc() || !frame.image) return nullptr;
  auto graphics = std::make_unique<Gdiplus::Graphics>(frame.image.get());
  ApplyFrameSettings(*graphics);
  graphics->TranslateTransform(static_cast<float>(-frame.originX), static_cast<float>(-frame.originY));
  const PixelRect& clip = context.clip;
  if (!clip.Empty()) graphics->SetClip(Gdiplus::Rect(clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top));
  return graphics;
}

void DrawFrameText(const DrawContext& context, const std::wstring& text, float points, bool bold, int x, int y,
                   Gdiplus::ARGB ink, bool silhouette) {
  context.renderer.text.Draw(context.frame, context.clip, text, points, bold, x, y, ink, silhouette);
}

void DrawFrameTextCentred(const DrawContext& context, const std::wstring& text, float points, bool bold,
                          const PixelRect& box, Gdiplus::ARGB ink, bool silhouette) {
  context.renderer.text.DrawCentred(context.frame, context.clip, text, points, bold, box, ink, silhouette);
}

Gdiplus::ARGB MakeArgb(float alpha, uint32_t rgb) {
  float clamped = alpha > 0.0f ? std::min(alpha, 255.0f) : 0.0f;  // also maps NaN to 0
  return (static_cast<Gdiplus::ARGB>(static_cast<int>(clamped)) << 24) | (rgb & 0xFFFFFF);
}
