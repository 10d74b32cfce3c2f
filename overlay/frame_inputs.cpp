#include "overlay/frame_inputs.h"

#include <cstring>

namespace {

// Appends values as 32-bit words; floats by their bits, so equal settings
// always compare equal (NaN included), strings with their length first, so
// neighbouring strings cannot run into each other.
class SignatureWriter {
 public:
  explicit SignatureWriter(FrameSignature& out) : out_(out) {}
  void Add(uint32_t value) { out_.push_back(value); }
  void Add(int32_t value) { out_.push_back(static_cast<uint32_t>(value)); }
  void Add(bool value) { out_.push_back(value ? 1u : 0u); }
  void Add(float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    out_.push_back(bits);
  }
  void Add(const std::wstring& text) {
    out_.push_back(static_cast<uint32_t>(text.size()));
    for (wchar_t unit : text) out_.push_back(static_cast<uint32_t>(unit));
  }

 private:
  FrameSignature& out_;
};

void AddSettings(SignatureWriter& w, const Config& c) {
  w.Add(c.avatar_size);
  w.Add(c.overlay_x);
  w.Add(c.overlay_y);
  w.Add(c.inactive_opacity);
  w.Add(c.username_label_opacity);
  w.Add(c.username_font_size);
  w.Add(c.show_names);
  w.Add(c.speaking_color);
  w.Add(c.muted_color);
  w.Add(c.deafened_color);
  w.Add(c.notification_position);
  w.Add(c.notification_font_size);
  w.Add(c.pip_enabled);
  w.Add(c.pip_x);
  w.Add(c.pip_y);
  w.Add(c.pip_width);
  w.Add(c.pip_height);
  w.Add(c.pip_opacity);
}

void AddView(SignatureWriter& w, const FrameView& v) {
  w.Add(v.x);
  w.Add(v.y);
  w.Add(v.width);
  w.Add(v.height);
  w.Add(v.dragMode);
  w.Add(v.pipShown);
  w.Add(v.pipShown ? v.pipGeneration : 0u);
}

}  // namespace

size_t MembersOnScreen(size_t count, int32_t overlayY, int32_t avatarSize, int frameHeight) {
  int64_t top = overlayY;
  size_t shown = 0;
  while (shown < count && top <= frameHeight) {
    ++shown;
    top += static_cast<int64_t>(avatarSize) + kMemberColumnGap;
  }
  return shown;
}

FrameSignature SignFrame(const OverlayState& state, const Config& config, const FrameView& view, uint32_t now,
                         const AvatarShown& avatarShown) {
  FrameSignature signature;
  signature.reserve(256);
  SignatureWriter w(signature);
  AddView(w, view);
  AddSettings(w, config);

  size_t members = MembersOnScreen(state.shown.size(), config.overlay_y, config.avatar_size, view.height);
  w.Add(static_cast<uint32_t>(members));
  for (size_t i = 0; i < members; ++i) {
    const VoiceUser& m = state.shown[i];
    w.Add(m.id);
    w.Add(m.displayName.empty() ? m.username : m.displayName);
    w.Add(m.speaking);
    w.Add(m.muted);
    w.Add(m.deafened);
    w.Add(m.bot);
    w.Add(JoinScale(m, now));
    w.Add(avatarShown(m.id, m.avatarHash));
  }

  w.Add(static_cast<uint32_t>(state.notifications.size()));
  for (const OverlayNotification& card : state.notifications) {
    w.Add(card.displayName);
    w.Add(card.content);
    w.Add(card.channelName);
    w.Add(card.serverName);
    w.Add(card.userId);
    w.Add(card.alpha);
    w.Add(card.slideIn);
    w.Add(avatarShown(card.userId, card.avatarHash));
  }
  return signature;
}
