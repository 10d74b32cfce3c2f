#include "overlay/notification_card.h"

#include <cstdio>
#include <memory>

#include "app/log.h"
#include "overlay/card_geometry.h"
#include "overlay/renderer.h"

namespace {

using Gdiplus::Graphics;

constexpr uint32_t kBlackRgb = 0x000000;
constexpr uint32_t kBodyRgb = 0x2F3136;
constexpr uint32_t kAccentRgb = 0x5865F2;
constexpr uint32_t kWhiteRgb = 0xFFFFFF;
constexpr uint32_t kContentRgb = 0xDCDDDE;
constexpr uint32_t kChannelRgb = 0x949BA4;
constexpr float kInitialPoints = 20.0f;
constexpr int kLoggedDraws = 5;

int g_loggedCardDraws = 0;  // only the first draws after start-up are logged

void LogCardDraw(const CardLayout& card, float alpha) {
  if (g_loggedCardDraws >= kLoggedDraws) return;
  ++g_loggedCardDraws;
  wchar_t line[160];
  swprintf(line, sizeof line / sizeof line[0], L"Card drawn at %d, %d, alpha=%f", card.x, card.y,
           static_cast<double>(alpha));
  WriteLogLine(std::wstring(L"[NotifRender] ") + line);
}

Gdiplus::Color CardColor(float fullAlpha, float cardAlpha, uint32_t rgb) {
  return Gdiplus::Color(MakeArgb(fullAlpha * cardAlpha, rgb));
}

// The strip hugs the rounded left edge: two corner arcs joined by the edge
// and closed 4 pixels in.
void DrawAccentStrip(Graphics& g, const CardLayout& card, float alpha) {
  auto x = static_cast<float>(card.x);
  auto y = static_cast<float>(card.y);
  auto h = static_cast<float>(card.height);
  const auto r = static_cast<float>(card.radius), d = 2.0f * r, inset = 4.0f * card.scale;
  Gdiplus::GraphicsPath strip(Gdiplus::FillModeAlternate);
  strip.AddArc(x, y, d, d, 180.0f, 90.0f);
  strip.AddLine(x, y + r, x, y + h - r);
  strip.AddArc(x, y + h - d, d, d, 90.0f, 90.0f);
  strip.AddLine(x + inset, y + h, x + inset, y);
  strip.CloseFigure();
  Gdiplus::SolidBrush brush(CardColor(255.0f, alpha, kAccentRgb));
  g.FillPath(&brush, &strip);
}

void DrawAvatarImage(Graphics& g, Gdiplus::Image& image, const Gdiplus::Rect& circle, float alpha) {
  Gdiplus::GraphicsPath clipPath;
  clipPath.AddEllipse(circle);
  Gdiplus::Region clip(&clipPath);
  Gdiplus::GraphicsState outer = g.Save();  // keeps the frame's own clip
  g.SetClip(&clip, Gdiplus::CombineModeIntersect);
  Gdiplus::ColorMatrix matrix = {{{1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 1, 0, 0}, {0, 0, 0, 1, 0}, {0, 0, 0, 0, 1}}};
  matrix.m[3][3] = alpha;
  Gdiplus::ImageAttributes attributes;
  attributes.SetColorMatrix(&matrix);
  g.DrawImage(&image, circle, 0, 0, static_cast<INT>(image.GetWidth()), static_cast<INT>(image.GetHeight()),
              Gdiplus::UnitPixel, &attributes);
  g.Restore(outer);
}

void DrawPlaceholderAvatar(const DrawContext& context, Graphics& g, const Gdiplus::Rect& circle,
                           const std::wstring& displayName, float alpha, float scale) {
  Gdiplus::SolidBrush disc(CardColor(200.0f, alpha, kAccentRgb));
  g.FillEllipse(&disc, circle);
  std::wstring initial = CardInitial(displayName);
  if (initial.empty()) return;
  g.Flush(Gdiplus::FlushIntentionSync);  // the text is blended into the same pixels
  DrawFrameTextCentred(context, initial, kInitialPoints * scale, true,
                       PixelRect{circle.X, circle.Y, circle.X + circle.Width, circle.Y + circle.Height},
                       MakeArgb(255.0f * alpha, kWhiteRgb));
}

void DrawAvatar(const DrawContext& context, Graphics& g, const CardItem& item) {
  const CardLayout& card = item.layout;
  const float alpha = item.look.alpha;
  Gdiplus::Rect circle(card.avatarX, card.avatarY, card.avatarSize, card.avatarSize);
  if (Gdiplus::Image* image = context.renderer.avatars.Get(item.look.userId, item.avatarHash, {}))
    DrawAvatarImage(g, *image, circle, alpha);
  else
    DrawPlaceholderAvatar(context, g, circle, item.look.name, alpha, card.scale);
  Gdiplus::Pen ring(CardColor(100.0f, alpha, kWhiteRgb), 2.0f * card.scale);
  g.DrawEllipse(&ring, circle);
}

void DrawLine(const DrawContext& context, const CardTextLine& line, const std::wstring& text, Gdiplus::ARGB ink,
              int offset = 0, bool silhouette = false) {
  DrawFrameText(context, text, line.points, line.bold, line.x + offset, line.y + offset, ink, silhouette);
}

void DrawTextLines(const DrawContext& context, Graphics& g, const CardItem& item) {
  const CardLayout& card = item.layout;
  const CardLook& look = item.look;
  const float alpha = look.alpha;
  g.Flush(Gdiplus::FlushIntentionSync);  // the texts are blended into the same pixels
  DrawLine(context, card.name, look.name, MakeArgb(150.0f * alpha, kBlackRgb), 1, true);
  DrawLine(context, card.name, look.name, MakeArgb(255.0f * alpha, kWhiteRgb));
  DrawLine(context, card.content, item.shownContent, MakeArgb(220.0f * alpha, kContentRgb));
  if (!look.channel.empty()) DrawLine(context, card.channel, look.channel, MakeArgb(150.0f * alpha, kChannelRgb));
}

}  // namespace

void DrawCard(const DrawContext& context, const CardItem& item) {
  const CardLayout& card = item.layout;
  const float alpha = item.look.alpha;
  LogCardDraw(card, alpha);
  std::unique_ptr<Graphics> graphics = CreateFrameGraphics(context);
  if (!graphics) return;
  Graphics& g = *graphics;
  auto x = static_cast<float>(card.x);
  auto top = static_cast<float>(card.y);
  auto width = static_cast<float>(card.width);
  auto height = static_cast<float>(card.height);
  auto radius = static_cast<float>(card.radius);
  auto shadow = static_cast<float>(card.shadow);
  DrawRoundedRect(g, x + shadow, top + shadow, width, height, radius, MakeArgb(80.0f * alpha, kBlackRgb), 0);
  DrawRoundedRect(g, x, top, width, height, radius, MakeArgb(230.0f * alpha, kBodyRgb), 0);
  DrawAccentStrip(g, card, alpha);
  DrawAvatar(context, g, item);
  DrawTextLines(context, g, item);
}
