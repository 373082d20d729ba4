#include "engine/settings.h"


namespace penumbrix {

std::string labelText(Setting setting, std::int16_t value)
{
    // Over the bars' ranges the difference lies in -128..300.
    const std::int16_t shown = static_cast<std::int16_t>(value - settingInfo(setting).labelBias);
    return std::to_string(shown);
}

std::string startLabelText(Setting setting)
{
    return labelText(setting, settingInfo(setting).start);
}

SettingValues SettingValues::startValues()
{
    SettingValues v;
    for (const auto& info : kSettings)
        v[info.setting] = info.start;
    return v;
}

AdjustmentSettings SettingValues::adjustment() const
{
    const auto& v = *this;
    return {v[Setting::Red], v[Setting::Green], v[Setting::Blue], v[Setting::Light],
            v[Setting::Contrast], v[Setting::Range], v[Setting::Czoom]};
}

} // namespace penumbrix
