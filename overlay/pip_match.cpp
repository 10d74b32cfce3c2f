#include "overlay/pip_match.h"

namespace {

const wchar_t kScreenShareClass[] = L"Chrome_WidgetWin_1";
const wchar_t* const kScreenShareTitles[] = {L"Screen Share", L"Go Live", L"\u753B\u9762\u5171\u6709"};

bool Contains(const std::wstring& text, const wchar_t* part) { return text.find(part) != std::wstring::npos; }

}  // namespace

bool IsPipWindow(const std::wstring& title, const std::wstring& className, const std::wstring& filter) {
  if (title.empty()) return false;
  if (!filter.empty()) return title.find(filter) != std::wstring::npos;
  if (className != kScreenShareClass) return false;
  for (const wchar_t* part : kScreenShareTitles)
    if (Contains(title, part)) return true;
  return false;
}
