#include "overlay/pip_match.h"

#include <gtest/gtest.h>

namespace {

const wchar_t kChrome[] = L"Chrome_WidgetWin_1";

}  // namespace

TEST(PipMatch, BuiltInScreenShareRule) {
  struct Case {
    const wchar_t* title;
    const wchar_t* className;
    bool picked;
  };
  const Case cases[] = {
      {L"Screen Share", kChrome, true},
      {L"Discord - Screen Share", kChrome, true},
      {L"Go Live - Fortnite", kChrome, true},
      {L"\u753B\u9762\u5171\u6709 - Discord", kChrome, true},
      {L"#general - Discord", kChrome, false},  // the client's main window
      {L"screen share", kChrome, false},        // case-sensitive
      {L"GO LIVE", kChrome, false},
      {L"Screen Share", L"Chrome_WidgetWin_0", false},
      {L"Screen Share", L"chrome_widgetwin_1", false},
      {L"Screen Share", L"Chrome_WidgetWin_10", false},  // exact class, not a prefix
      {L"Screen Share", L"Notepad", false},
      {L"", kChrome, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.title << " / " << c.className);
    EXPECT_EQ(IsPipWindow(c.title, c.className, L""), c.picked);
  }
}

TEST(PipMatch, ConfiguredFilterAnyClassCaseSensitive) {
  struct Case {
    const wchar_t* title;
    const wchar_t* className;
    const wchar_t* filter;
    bool picked;
  };
  const Case cases[] = {
      {L"My Stream Viewer", L"Notepad", L"Stream", true},
      {L"My Stream Viewer", L"", L"Stream", true},  // class never read
      {L"My Stream Viewer", L"Notepad", L"stream", false},
      {L"Stream", L"Notepad", L"Stream Viewer", false},
      // A filter replaces the built-in rule instead of adding to it.
      {L"Screen Share", kChrome, L"OBS", false},
      {L"", L"Notepad", L"x", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.title << " / " << c.filter);
    EXPECT_EQ(IsPipWindow(c.title, c.className, c.filter), c.picked);
  }
}
