// Which window the picture-in-picture mirrors, decided from its title and
// class name alone (the caller has already skipped hidden windows).
#pragma once

#include <string>

// With a filter: the filter occurs in the title, any class. Without one: the
// Discord client's class "Chrome_WidgetWin_1" and a screen-share title
// ("Screen Share", "Go Live" or "画面共有"). Case-sensitive; an empty title
// never matches.
bool IsPipWindow(const std::wstring& title, const std::wstring& className, const std::wstring& filter);
