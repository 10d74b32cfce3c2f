#include "ui/settings_values.h"

#include <algorithm>

// config.json keeps an opacity as written; a huge one must not overflow the
// conversion (the label then shows the bound).
int OpacityToSlider(float opacity) {
  constexpr double kBound = 1000000.0;
  return static_cast<int>(std::clamp(opacity * 100.0, -kBound, kBound));
}

float SliderToOpacity(int position) { return static_cast<float>(position) / 100.0f; }

int NameLengthToSlider(int32_t maxNameLength) {
  return maxNameLength <= 0 ? kNameLengthSliderMin : maxNameLength;
}

int32_t SliderToNameLength(int position) { return position <= kNameLengthSliderMin ? 0 : position; }

std::wstring PercentLabel(int value) { return std::to_wstring(value) + L"%"; }

std::wstring PointLabel(int value) { return std::to_wstring(value) + L"pt"; }
