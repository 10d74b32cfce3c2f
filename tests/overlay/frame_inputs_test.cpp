#include "overlay/frame_inputs.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace {

constexpr uint32_t kNow = 10000;

struct Scene {
  OverlayState state;
  Config config;
  FrameView view;
  uint32_t now = kNow;
  std::set<std::wstring> loadedAvatars;

  Scene() {
    view.width = 1920;
    view.height = 1080;
    VoiceUser ann;
    ann.id = L"1";
    ann.username = L"ann";
    ann.avatarHash = L"a1";
    VoiceUser bob = ann;
    bob.id = L"2";
    bob.username = L"bob";
    state.users = {ann, bob};
    OverlayNotification card;
    card.displayName = L"Cy";
    card.content = L"hello";
    card.userId = L"3";
    card.avatarHash = L"c3";
    card.slideIn = 1.0f;
    state.notifications = {card};
  }

  FrameSignature Sign() const {
    return SignFrame(state, config, view, now, [this](const std::wstring& id, const std::wstring&) {
      return loadedAvatars.count(id) != 0;
    });
  }
};

using Change = std::function<void(Scene&)>;

TEST(FrameSignature, EveryDrawnInputChangesIt) {
  const std::pair<const char*, Change> cases[] = {
      {"speaking", [](Scene& s) { s.state.users[0].speaking = true; }},
      {"muted", [](Scene& s) { s.state.users[1].muted = true; }},
      {"deafened", [](Scene& s) { s.state.users[1].deafened = true; }},
      {"bot", [](Scene& s) { s.state.users[0].bot = true; }},
      {"shown name", [](Scene& s) { s.state.users[0].displayName = L"Ann"; }},
      {"member order", [](Scene& s) { std::swap(s.state.users[0], s.state.users[1]); }},
      {"member left", [](Scene& s) { s.state.users.pop_back(); }},
      {"member avatar arrived", [](Scene& s) { s.loadedAvatars.insert(L"2"); }},
      {"card avatar arrived", [](Scene& s) { s.loadedAvatars.insert(L"3"); }},
      {"card slides", [](Scene& s) { s.state.notifications[0].slideIn = 0.5f; }},
      {"card fades", [](Scene& s) { s.state.notifications[0].alpha = 0.99f; }},
      {"card content", [](Scene& s) { s.state.notifications[0].content = L"hello!"; }},
      {"card channel", [](Scene& s) { s.state.notifications[0].channelName = L"general"; }},
      {"card server", [](Scene& s) { s.state.notifications[0].serverName = L"home"; }},
      {"card expired", [](Scene& s) { s.state.notifications.clear(); }},
      {"strings do not run together",
       [](Scene& s) {
         s.state.notifications[0].displayName = L"Cyh";
         s.state.notifications[0].content = L"ello";
       }},
      {"avatar_size", [](Scene& s) { s.config.avatar_size = 40; }},
      {"overlay_x", [](Scene& s) { s.config.overlay_x = 21; }},
      {"overlay_y", [](Scene& s) { s.config.overlay_y = 21; }},
      {"inactive_opacity", [](Scene& s) { s.config.inactive_opacity = 0.5f; }},
      {"username_label_opacity", [](Scene& s) { s.config.username_label_opacity = 0.5f; }},
      {"username_font_size", [](Scene& s) { s.config.username_font_size = 14; }},
      {"show_names", [](Scene& s) { s.config.show_names = false; }},
      {"speaking colour", [](Scene& s) { s.config.speaking_color = MakeConfigColor(1, 2, 3); }},
      {"muted colour", [](Scene& s) { s.config.muted_color = MakeConfigColor(1, 2, 3); }},
      {"deafened colour", [](Scene& s) { s.config.deafened_color = MakeConfigColor(1, 2, 3); }},
      {"notification_position", [](Scene& s) { s.config.notification_position = 3; }},
      {"notification_font_size", [](Scene& s) { s.config.notification_font_size = 14; }},
      {"pip_enabled", [](Scene& s) { s.config.pip_enabled = true; }},
      {"pip rectangle", [](Scene& s) { s.config.pip_height = 200; }},
      {"pip_opacity", [](Scene& s) { s.config.pip_opacity = 0.5f; }},
      {"picture shown", [](Scene& s) { s.view.pipShown = true; }},
      {"drag mode", [](Scene& s) { s.view.dragMode = true; }},
      {"window size", [](Scene& s) { s.view.height = 1200; }},
  };
  const FrameSignature before = Scene().Sign();
  for (const auto& c : cases) {
    Scene scene;
    c.second(scene);
    EXPECT_NE(scene.Sign(), before) << c.first;
  }
}

TEST(FrameSignature, UndrawnInputsAndTimeAtRestLeaveItAlone) {
  const std::pair<const char*, Change> cases[] = {
      {"later tick, nothing animating", [](Scene& s) { s.now += 5000; }},
      {"entry animation over, not yet ended by Update", [](Scene& s) { s.state.users[0].joinTick = kNow - 600; }},
      {"avatar hash only", [](Scene& s) { s.state.users[0].avatarHash = L"new"; }},
      {"card avatar url", [](Scene& s) { s.state.notifications[0].avatarUrl = L"https://x"; }},
      {"card age alone", [](Scene& s) { s.state.notifications[0].createdTick = 5; }},
      {"duration", [](Scene& s) { s.config.notification_duration = 100; }},
      {"border colour", [](Scene& s) { s.config.border_color = MakeConfigColor(1, 2, 3); }},
      {"new capture while none is shown", [](Scene& s) { s.view.pipGeneration = 7; }},
  };
  const FrameSignature before = Scene().Sign();
  for (const auto& c : cases) {
    Scene scene;
    c.second(scene);
    EXPECT_EQ(scene.Sign(), before) << c.first;
  }
}

TEST(FrameSignature, AnimationsAndCapturesChangeItFrameByFrame) {
  Scene scene;
  scene.state.users[1].joinTick = kNow;  // bob just joined
  FrameSignature previous = scene.Sign();
  for (uint32_t t = 16; t < kJoinAnimationMs; t += 16) {
    scene.now = kNow + t;
    FrameSignature next = scene.Sign();
    EXPECT_NE(next, previous) << "entry animation at " << t << " ms";
    previous = next;
  }
  scene.state.users[1].joinTick = 0;  // Update ended it
  scene.now = kNow + 10000;
  EXPECT_EQ(scene.Sign(), Scene().Sign());

  scene.view.pipShown = true;
  scene.view.pipGeneration = 1;
  FrameSignature first = scene.Sign();
  scene.view.pipGeneration = 2;
  EXPECT_NE(scene.Sign(), first) << "a new capture is a new picture";
}

// Members past the bottom edge are not drawn: their changes draw no frame and
// their avatars are not asked for, so nothing is downloaded for them.
TEST(FrameSignature, MembersBelowTheFrameAreLeftOut) {
  Scene scene;
  scene.view.height = 100;  // slots at 20 and 76; a third would start at 132
  VoiceUser third = scene.state.users[0];
  third.id = L"9";
  scene.state.users.push_back(third);
  std::set<std::wstring> asked;
  auto sign = [&] {
    return SignFrame(scene.state, scene.config, scene.view, scene.now, [&](const std::wstring& id, const std::wstring&) {
      asked.insert(id);
      return false;
    });
  };
  FrameSignature before = sign();
  EXPECT_EQ(asked, (std::set<std::wstring>{L"1", L"2", L"3"}));
  scene.state.users[2].speaking = true;
  EXPECT_EQ(sign(), before);
  scene.state.users[1].speaking = true;
  EXPECT_NE(sign(), before);
}

TEST(MembersOnScreen, SlotsStartingWithinTheFrame) {
  struct Case {
    size_t count;
    int32_t overlayY, avatarSize;
    int height;
    size_t shown;
  };
  const Case cases[] = {
      {3, 20, 48, 1080, 3},  {30, 20, 48, 1080, 19},  // 20 + 18 x 56 = 1028 starts inside, 1084 not
      {5, 20, 48, 76, 2},    {5, 20, 48, 75, 1},      // a slot starting on the last row counts
      {5, 2000, 48, 1080, 0}, {0, 20, 48, 1080, 0},
      {3, -100, 48, 1080, 3}, {4, 2147483647, 2147483647, 1080, 0},  // wide arithmetic
  };
  for (const Case& c : cases)
    EXPECT_EQ(MembersOnScreen(c.count, c.overlayY, c.avatarSize, c.height), c.shown)
        << c.count << " at " << c.overlayY << " size " << c.avatarSize << " in " << c.height;
}

}  // namespace
