#include "app/fullscreen_notice.h"

#include <cwctype>

bool FullscreenNotices::ShouldNotify(int state, const std::wstring& exe) {
  if (state != kNotificationStateD3dFullScreen || exe.empty()) return false;
  std::wstring key = exe;
  for (auto& c : key) c = static_cast<wchar_t>(std::towlower(c));
  return told.insert(key).second;
}
