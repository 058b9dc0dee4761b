// The appearance setting: its stored texts, the titles the settings window shows, and the light and
// dark palettes the application is drawn with.
//
// Pure functions; thread-safe.
#pragma once

#include <QPalette>
#include <QString>

#include <array>

namespace ferrylantern {

enum class AppAppearanceSettings
{
    system, // the desktop's own appearance
    light,
    dark,
};

// Every case, in the order the settings window lists them.
inline constexpr std::array<AppAppearanceSettings, 3> allAppAppearanceSettings{
    AppAppearanceSettings::system, AppAppearanceSettings::light, AppAppearanceSettings::dark};

// The stored text: "system", "light" or "dark".
QString rawValue(AppAppearanceSettings appearance);
// "跟随系统", "浅色" or "深色".
QString title(AppAppearanceSettings appearance);
// The case of a stored text; any text that is none of the three reads as dark, as the default does.
AppAppearanceSettings appAppearanceFromRawValue(const QString& rawValue);

// Complete palettes (every role in every group) for the Fusion style.
QPalette lightAppearancePalette();
QPalette darkAppearancePalette();

// Whether a palette draws light text on a dark window, which is how the views tell the dark
// appearance from the light one whatever chose the palette.
bool isDarkPalette(const QPalette& palette);

} // namespace ferrylantern
