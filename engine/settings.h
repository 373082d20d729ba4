#pragma once
// The seven adjustment settings: their ranges, start values, the text of
// their value labels and the reset. The window binds this model to its
// scroll bars and labels.

#include <array>
#include <cstdint>
#include <string>

#include "engine/pixel_transform.h"

namespace penumbrix {

// In the order the sliders stand in the window, top to bottom.
enum class Setting { Red, Green, Blue, Light, Contrast, Range, Czoom };
inline constexpr int kSettingCount = 7;

struct SettingInfo {
    Setting setting;
    const char* barName;    // the scroll bar's object name
    const char* labelName;  // its value label's object name
    std::int16_t minimum;
    std::int16_t maximum;
    std::int16_t start;
    std::int16_t step;      // both the arrow step and the track (page) step
    std::int16_t labelBias; // the label shows value - labelBias
};

inline constexpr std::array<SettingInfo, kSettingCount> kSettings{{
    {Setting::Red, "vsRed", "lblRed", 0, 255, 128, 1, 128},
    {Setting::Green, "vsGreen", "lblGreen", 0, 255, 128, 1, 128},
    {Setting::Blue, "vsBlue", "lblBlue", 0, 255, 128, 1, 128},
    {Setting::Light, "vsLIGHT", "lblLIGHT", 0, 255, 128, 1, 128},
    {Setting::Contrast, "vsContrast", "lblContrast", 0, 255, 128, 1, 128},
    {Setting::Range, "vsRange", "lblRange", 0, 256, 128, 1, 128},
    {Setting::Czoom, "vsCzoom", "lblCzoom", 0, 300, 1, 1, 0},
}};

constexpr const SettingInfo& settingInfo(Setting s) { return kSettings[static_cast<int>(s)]; }

// The value label's text for a bar value: plain decimal, "-" for negatives.
std::string labelText(Setting setting, std::int16_t value);

// What a label shows when the window is created: the text of the start
// value, so that every label agrees with its bar ("1" for vsCzoom).
std::string startLabelText(Setting setting);

// The reset, one step per setting in the order it is carried out: the label
// is set to labelCaption first, then the bar to value.
struct ResetStep {
    Setting setting;
    const char* labelCaption;
    std::int16_t value;
};
inline constexpr std::array<ResetStep, kSettingCount> kResetSteps{{
    {Setting::Contrast, "0", 128},
    {Setting::Light, "0", 128},
    {Setting::Range, "0", 128},
    {Setting::Red, "0", 128},
    {Setting::Green, "0", 128},
    {Setting::Blue, "0", 128},
    {Setting::Czoom, "0", 0},
}};

// The seven values as plain integers, indexed by Setting; what the window's
// bars hold, and what a pass reads.
struct SettingValues {
    std::array<std::int16_t, kSettingCount> values{};

    static SettingValues startValues();
    std::int16_t operator[](Setting s) const { return values[static_cast<int>(s)]; }
    std::int16_t& operator[](Setting s) { return values[static_cast<int>(s)]; }
    AdjustmentSettings adjustment() const;
};

} // namespace penumbrix
