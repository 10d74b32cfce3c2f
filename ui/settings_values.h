// How the settings window shows config values and reads them back. No
// platform calls, so it also builds natively.
#pragma once

#include <cstdint>
#include <string>

#include "app/config.h"

// Slider position of an opacity: times 100 in double precision, truncated
// (0.29f shows 28, as the window always has).
int OpacityToSlider(float opacity);
float SliderToOpacity(int position);

// Name length slider: one place below the shortest limit, meaning no limit (0).
constexpr int kNameLengthSliderMin = kNameLengthRange.minimum - 1;
int NameLengthToSlider(int32_t maxNameLength);
int32_t SliderToNameLength(int position);

// The value labels beside the sliders: "40%", "12pt".
std::wstring PercentLabel(int value);
std::wstring PointLabel(int value);
