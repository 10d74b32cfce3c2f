#include "ui/settings_values.h"

int OpacityToSlider(float opacity) { return static_cast<int>(opacity * 100.0); }

float SliderToOpacity(int position) { return static_cast<float>(position) / 100.0f; }

int LanguageToIndex(const std::string& language) {
  if (language == "en") return 1;
  if (language == "ja") return 2;
  return 0;
}

std::string IndexToLanguage(int index) {
  if (index == 1) return "en";
  if (index == 2) return "ja";
  return "";
}

std::wstring PercentLabel(int value) { return std::to_wstring(value) + L"%"; }

std::wstring PointLabel(int value) { return std::to_wstring(value) + L"pt"; }
