#include "overlay/font_cache.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace {

constexpr size_t kKeptFonts = 32;

bool FamilyExists(const wchar_t* name) {
  Gdiplus::FontFamily family(name);
  return family.GetLastStatus() == Gdiplus::Ok;
}

// Any installed family, a sans-serif one by preference: some systems (a bare
// Wine prefix) have neither the wanted families nor a generic sans-serif.
std::wstring AnyInstalledFamily() {
  Gdiplus::InstalledFontCollection installed;
  INT count = installed.GetFamilyCount();
  if (count <= 0) return std::wstring();
  std::vector<Gdiplus::FontFamily> families(static_cast<size_t>(count));
  INT found = 0;
  installed.GetFamilies(count, families.data(), &found);
  std::wstring fallback;
  for (INT i = 0; i < found; ++i) {
    wchar_t name[LF_FACESIZE] = {};
    if (families[i].GetFamilyName(name) != Gdiplus::Ok || !name[0]) continue;
    std::wstring text = name;
    if (text.find(L"Sans") != std::wstring::npos && text.find(L"Mono") == std::wstring::npos) return text;
    if (fallback.empty()) fallback = text;
  }
  return fallback;
}

// The first wanted family the system has, else the generic sans-serif, else
// any installed family; empty when there is no font at all.
std::wstring ResolveFamilyName(std::initializer_list<const wchar_t*> wanted) {
  for (const wchar_t* name : wanted)
    if (FamilyExists(name)) return name;
  const Gdiplus::FontFamily* generic = Gdiplus::FontFamily::GenericSansSerif();
  wchar_t name[LF_FACESIZE] = {};
  if (generic && generic->GetLastStatus() == Gdiplus::Ok && generic->GetFamilyName(name) == Gdiplus::Ok && name[0])
    return name;
  return AnyInstalledFamily();
}

std::unique_ptr<Gdiplus::FontFamily> CreateFamily(const std::wstring& name) {
  if (name.empty()) return nullptr;
  auto family = std::make_unique<Gdiplus::FontFamily>(name.c_str());
  if (family->GetLastStatus() != Gdiplus::Ok) return nullptr;
  return family;
}

}  // namespace

const Gdiplus::FontFamily* FontCache::Family(FontFace face) {
  auto index = static_cast<size_t>(face);
  if (!resolved_[index]) {
    resolved_[index] = true;
    families_[index] = CreateFamily(face == FontFace::kLabel ? ResolveFamilyName({L"Segoe UI Emoji", L"Segoe UI"})
                                                             : ResolveFamilyName({L"Segoe UI"}));
  }
  return families_[index].get();
}

const Gdiplus::Font* FontCache::Get(FontFace face, float points, INT style) {
  auto key = std::make_tuple(static_cast<int>(face), points, style);
  auto found = fonts_.find(key);
  if (found != fonts_.end()) return found->second.get();
  const Gdiplus::FontFamily* family = Family(face);
  if (!family) return nullptr;
  auto font = std::make_unique<Gdiplus::Font>(family, points, style, Gdiplus::UnitPoint);
  const Gdiplus::Font* kept = font.get();
  fonts_[key] = std::move(font);
  return kept;
}

void FontCache::Trim() {
  if (fonts_.size() > kKeptFonts) fonts_.clear();
}

void FontCache::Release() {
  fonts_.clear();
  for (size_t i = 0; i < 2; ++i) {
    families_[i].reset();
    resolved_[i] = false;
  }
}
