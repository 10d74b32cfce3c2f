#include "overlay/renderer.h"

#include <algorithm>

#include "app/config.h"
#include "app/log.h"
#include "overlay/card_geometry.h"
#include "overlay/frame_inputs.h"
#include "overlay/overlay_state.h"
#include "app/voice_user.h"

namespace {

constexpr uint32_t kLoggedFrames = 3;
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

const Config& Settings() { return GetRenderer().settings; }

float Clamp01(float value) { return value > 0.0f ? std::min(value, 1.0f) : 0.0f; }

// One tile's drawing context: where, how big, and how dimmed.
struct Tile {
  Gdiplus::Graphics& g;
  int x;
  int y;
  int size;
  const VoiceUser& member;
  float dim;  // 1 while speaking, else inactive_opacity
};

// Pens and offsets are those at 96 DPI, times the display scale.
float Scale() { return Settings().display_scale; }

void DrawRings(const Tile& t) {
  const float s = Scale();
  const auto x = static_cast<float>(t.x), y = static_cast<float>(t.y), size = static_cast<float>(t.size);
  if (t.member.speaking) {
    Gdiplus::Pen ring(Gdiplus::Color(Opaque(Settings().speaking_color)), 6.0f * s);
    t.g.DrawEllipse(&ring, x - 4.0f * s, y - 4.0f * s, size + 8.0f * s, size + 8.0f * s);
  }
  for (int i = 4; i >= 1; --i) {
    const float out = 2.0f * static_cast<float>(i) * s;
    Gdiplus::Pen halo(Gdiplus::Color(MakeArgb((110.0f - 20.0f * i) * t.dim, kBlackRgb)), static_cast<float>(i + 1) * s);
    t.g.DrawEllipse(&halo, x - out, y - out, size + 2.0f * out, size + 2.0f * out);
  }
}

// A silent tile's outline in the border colour, over the avatar's edge; at
// border_opacity 0 (the default) there is none, as there never was.
void DrawBorder(const Tile& t) {
  float opacity = Clamp01(Settings().border_opacity);
  if (t.member.speaking || opacity <= 0.0f) return;
  Gdiplus::Pen pen(Gdiplus::Color(MakeArgb(255.0f * opacity, RgbOf(Settings().border_color))), 2.0f * Scale());
  t.g.DrawEllipse(&pen, t.x, t.y, t.size, t.size);
}

void DrawAvatarImage(const Tile& t, Gdiplus::Image& image) {
  Gdiplus::GraphicsPath circle;
  circle.AddEllipse(t.x, t.y, t.size, t.size);
  Gdiplus::Region clip(&circle);
  Gdiplus::GraphicsState outer = t.g.Save();  // keeps the frame's own clip
  t.g.SetClip(&clip, Gdiplus::CombineModeIntersect);
  Gdiplus::Rect target(t.x, t.y, t.size, t.size);
  if (t.member.speaking) {
    t.g.DrawImage(&image, target);
  } else {
    Gdiplus::ColorMatrix matrix = {{{1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 1, 0, 0}, {0, 0, 0, 1, 0}, {0, 0, 0, 0, 1}}};
    matrix.m[3][3] = Clamp01(Settings().inactive_opacity);
    Gdiplus::ImageAttributes attributes;
    attributes.SetColorMatrix(&matrix);
    t.g.DrawImage(&image, target, 0, 0, static_cast<INT>(image.GetWidth()), static_cast<INT>(image.GetHeight()),
                  Gdiplus::UnitPixel, &attributes);
  }
  t.g.Restore(outer);
}

void DrawPlaceholder(const Tile& t, const std::wstring& name) {
  bool speaking = t.member.speaking;
  Gdiplus::SolidBrush disc(Gdiplus::Color(MakeArgb(speaking ? 200.0f : 80.0f, kPlaceholderRgb)));
  t.g.FillEllipse(&disc, t.x, t.y, t.size, t.size);
  std::wstring initial = CardInitial(name);
  if (initial.empty()) return;
  t.g.Flush(Gdiplus::FlushIntentionSync);  // the text is blended into the same pixels
  float points = static_cast<float>(t.size) / 2.5f;
  PixelRect box{t.x, t.y, t.x + t.size, t.y + t.size};
  const int shadow = ScalePx(2, Scale());
  DrawFrameTextCentred(initial, points, true,
                       PixelRect{box.left + shadow, box.top + shadow, box.right + shadow, box.bottom + shadow},
                       MakeArgb(speaking ? 150.0f : 60.0f, kBlackRgb), true);
  DrawFrameTextCentred(initial, points, true, box, MakeArgb(speaking ? 255.0f : 100.0f, kWhiteRgb));
}

// A red pill with a white "LIVE" for a stream, a white camera on a dark pill
// for a camera, as Discord's list marks them.
void DrawMarks(const Tile& t, const LabelPlace& label) {
  if (!label.live.Empty()) {
    const PixelRect& r = label.live;
    DrawRoundedRect(t.g, static_cast<float>(r.left), static_cast<float>(r.top), static_cast<float>(r.right - r.left),
                    static_cast<float>(r.bottom - r.top), 3.0f * Scale(), MakeArgb(255.0f, kLiveRgb), 0);
    t.g.Flush(Gdiplus::FlushIntentionSync);  // the text is blended into the same pixels
    DrawFrameTextCentred(kLiveMarkText, label.livePoints, true, r, MakeArgb(255.0f, kWhiteRgb));
  }
  if (!label.camera.Empty()) {
    const PixelRect& r = label.camera;
    const float w = static_cast<float>(r.right - r.left), h = static_cast<float>(r.bottom - r.top);
    DrawRoundedRect(t.g, static_cast<float>(r.left), static_cast<float>(r.top), w, h, 3.0f * Scale(),
                    MakeArgb(t.dim * 160.0f, kBlackRgb), 0);
    Gdiplus::SolidBrush white(Gdiplus::Color(MakeArgb(255.0f, kWhiteRgb)));
    const float x = static_cast<float>(r.left), y = static_cast<float>(r.top);
    t.g.FillRectangle(&white, x + w * 0.15f, y + h * 0.25f, w * 0.45f, h * 0.5f);  // the body
    Gdiplus::PointF lens[] = {{x + w * 0.62f, y + h * 0.5f}, {x + w * 0.88f, y + h * 0.25f}, {x + w * 0.88f, y + h * 0.75f}};
    t.g.FillPolygon(&white, lens, 3);
  }
}

void DrawLabel(const Tile& t, float scale) {
  float lo = Settings().username_label_opacity;
  float base = t.member.speaking ? 255.0f : 100.0f;
  auto measure = [](const std::wstring& content, float points, bool bold) {
    return GetRenderer().MeasureText(content, points, bold);
  };
  LabelPlace label = PlaceLabel(TilePlace{t.x, t.y, t.size, scale}, Settings(), t.member, measure);
  if (label.text.width <= 0.0f) return;
  DrawMarks(t, label);
  const PixelRect& pill = label.pill;
  const auto pillHeight = static_cast<float>(pill.bottom - pill.top);
  DrawRoundedRect(t.g, static_cast<float>(pill.left), static_cast<float>(pill.top),
                  static_cast<float>(pill.right - pill.left), pillHeight, static_cast<float>((pill.bottom - pill.top) / 2),
                  MakeArgb(t.dim * 120.0f * lo, kBlackRgb), 0);
  t.g.Flush(Gdiplus::FlushIntentionSync);  // the text is blended into the same pixels
  const int shadow = ScalePx(1, Scale());
  DrawFrameText(label.shown, label.points, true, label.textX + shadow, label.textY + shadow,
                MakeArgb(lo * t.dim * 100.0f, kBlackRgb), true);
  DrawFrameText(label.shown, label.points, true, label.textX, label.textY,
                MakeArgb(base * lo, t.member.bot ? kBotLabelRgb : kWhiteRgb));
}

// Deafened wins over muted, and the member's own mute over the user's mute
// of them, which keeps the microphone on a grey disc.
void DrawBadge(const Tile& t) {
  bool deafened = t.member.deafened;
  const ConfigColor ownColor = deafened ? Settings().deafened_color : Settings().muted_color;
  const Gdiplus::ARGB disc = deafened || t.member.muted ? Opaque(ownColor) : MakeArgb(255.0f, kLocalMuteRgb);
  const float s = Scale();
  const int two = ScalePx(2, s), three = ScalePx(3, s);
  int d = t.size / 3;
  int bx = t.x + t.size - d + two;
  int by = t.y + t.size - d + two;
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

}  // namespace

Renderer& GetRenderer() {
  static Renderer renderer;
  return renderer;
}

bool RendererInitialize() {
  Renderer& r = GetRenderer();
  if (r.gdiplus.Running()) return true;
  if (!r.gdiplus.Start()) return false;
  r.avatars.Open();
  // Without the font file, texts are left out and logged.
  r.text.OpenOnFirstUse(GetExeDirectory() + L"\\" + kEmojiFontFile);
  return true;
}

void RendererShutdown() {
  Renderer& r = GetRenderer();
  r.avatars.Close();
  r.text.Close();
  r.cardText.fitted.clear();
  r.frame = &r.scratch;
  r.scratch.Release();
  r.gdiplus.Stop();
}

void Renderer::BeginFrame(int width, int height) {
  frame->Prepare(width, height);
  BeginPartialFrame(PixelRect{frame->originX, frame->originY, frame->originX + width, frame->originY + height});
  clip = PixelRect();
}

void Renderer::TrimCaches() {
  text.Trim();
}

void Renderer::BeginPartialFrame(const PixelRect& dirty) {
  clip = frame->Clear(dirty);
}

void Renderer::DrawMembers(const std::vector<MemberTile>& users, uint32_t now) {
  size_t shown = MembersOnScreen(users.size(), Settings(), frame->originX + static_cast<int>(frame->width),
                                 frame->originY + static_cast<int>(frame->height));
  for (size_t i = 0; i < shown; ++i) DrawMember(i, users[i], now);  // the rest is off the screen
}

void Renderer::DrawMember(size_t slot, const MemberTile& member, uint32_t now) {
  TilePlace tile = PlaceTile(slot, member, Settings(), now);
  if (tile.size < 1) return;
  const std::wstring& name = member.displayName.empty() ? member.username : member.displayName;
  DrawUser(tile.x, tile.y, tile.size, member, name, tile.scale);
}

TextExtent Renderer::MeasureText(const std::wstring& content, float points, bool bold) {
  return text.Measure(content, points, bold);
}

void Renderer::DrawUser(int x, int y, int size, const VoiceUser& member, const std::wstring& name, float scale) {
  std::unique_ptr<Gdiplus::Graphics> graphics = CreateFrameGraphics(frame->dc);
  if (!graphics) return;
  Tile tile{*graphics, x, y, size, member, member.speaking ? 1.0f : Clamp01(Settings().inactive_opacity)};
  const bool label = Settings().show_names && !name.empty();
  if (!Settings().show_avatars) {  // the names alone, in their places
    if (label) DrawLabel(tile, scale);
    return;
  }
  DrawRings(tile);
  if (Gdiplus::Image* image = GetAvatar(MemberAvatarSource(member)))
    DrawAvatarImage(tile, *image);
  else
    DrawPlaceholder(tile, name);
  DrawBorder(tile);
  if (label) DrawLabel(tile, scale);
  if (member.deafened || member.muted || member.localMute) DrawBadge(tile);
}

bool Renderer::EndFrame(HWND window, int x, int y, const PixelRect* dirty) {
  if (!frame->dc || !window) return false;
  GdiFlush();
  POINT destination = {x + frame->originX, y + frame->originY};
  SIZE size = {static_cast<LONG>(frame->width), static_cast<LONG>(frame->height)};
  POINT source = {0, 0};
  BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  RECT part = {};
  UPDATELAYEREDWINDOWINFO info = {};
  info.cbSize = sizeof(info);
  info.pptDst = &destination;
  info.psize = &size;
  info.hdcSrc = frame->dc;
  info.pptSrc = &source;
  info.pblend = &blend;
  info.dwFlags = ULW_ALPHA;
  if (dirty) {
    part = {dirty->left - frame->originX, dirty->top - frame->originY, dirty->right - frame->originX,
            dirty->bottom - frame->originY};
    info.prcDirty = &part;
  }
  BOOL result = UpdateLayeredWindowIndirect(window, &info);
  DWORD error = GetLastError();
  if (++endFrameCount <= kLoggedFrames)
    WriteLogLine(L"[Renderer] EndFrame: UpdateLayeredWindow result=" + std::to_wstring(result) +
                 L" GetLastError=" + std::to_wstring(error) + L" size=" + std::to_wstring(frame->width) + L"x" +
                 std::to_wstring(frame->height));
  return result != FALSE;
}

Gdiplus::Image* GetAvatar(const AvatarSource& source) {
  return GetRenderer().avatars.Get(source.userId, source.avatarHash, source.guildId);
}

Gdiplus::Image* GetAvatar(const std::wstring& userId, const std::wstring& avatarHash) {
  return GetAvatar(AvatarSource{userId, avatarHash, {}});
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

std::unique_ptr<Gdiplus::Graphics> CreateFrameGraphics(HDC frameDc) {
  if (!frameDc) return nullptr;
  const FrameBuffer& frame = *GetRenderer().frame;
  bool ours = frameDc == frame.dc && frame.image;
  auto graphics = ours ? std::make_unique<Gdiplus::Graphics>(frame.image.get())
                       : std::make_unique<Gdiplus::Graphics>(frameDc);
  ApplyFrameSettings(*graphics);
  if (!ours) return graphics;
  graphics->TranslateTransform(static_cast<float>(-frame.originX), static_cast<float>(-frame.originY));
  const PixelRect& clip = GetRenderer().clip;
  if (!clip.Empty()) graphics->SetClip(Gdiplus::Rect(clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top));
  return graphics;
}

void DrawFrameText(const std::wstring& text, float points, bool bold, int x, int y, Gdiplus::ARGB ink, bool silhouette) {
  Renderer& r = GetRenderer();
  r.text.Draw(*r.frame, r.clip, text, points, bold, x, y, ink, silhouette);
}

void DrawFrameTextCentred(const std::wstring& text, float points, bool bold, const PixelRect& box, Gdiplus::ARGB ink,
                          bool silhouette) {
  Renderer& r = GetRenderer();
  r.text.DrawCentred(*r.frame, r.clip, text, points, bold, box, ink, silhouette);
}

Gdiplus::ARGB MakeArgb(float alpha, uint32_t rgb) {
  float clamped = alpha > 0.0f ? std::min(alpha, 255.0f) : 0.0f;  // also maps NaN to 0
  return (static_cast<Gdiplus::ARGB>(static_cast<int>(clamped)) << 24) | (rgb & 0xFFFFFF);
}
