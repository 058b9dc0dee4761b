#include "ui/AppAppearanceSettings.h"

namespace ferrylantern {

namespace {

// The colours one appearance is made of; the disabled group is derived from them.
struct AppearanceColors
{
    QColor window;
    QColor base;
    QColor alternateBase;
    QColor text;
    QColor button;
    QColor light;
    QColor midlight;
    QColor mid;
    QColor dark;
    QColor shadow;
    QColor highlight;
    QColor link;
    QColor toolTipBase;
    QColor toolTipText;
};

constexpr int secondaryTextAlpha = 140; // about 55 % of the primary text
constexpr int disabledTextAlpha = 90;

QColor withAlpha(QColor color, int alpha)
{
    color.setAlpha(alpha);
    return color;
}

QPalette makePalette(const AppearanceColors& colors)
{
    QPalette palette;
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        const QColor text = disabled ? withAlpha(colors.text, disabledTextAlpha) : colors.text;
        palette.setColor(group, QPalette::Window, colors.window);
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Base, colors.base);
        palette.setColor(group, QPalette::AlternateBase, colors.alternateBase);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::PlaceholderText,
                         withAlpha(colors.text, disabled ? disabledTextAlpha : secondaryTextAlpha));
        palette.setColor(group, QPalette::Button, colors.button);
        palette.setColor(group, QPalette::ButtonText, text);
        palette.setColor(group, QPalette::BrightText, Qt::white);
        palette.setColor(group, QPalette::Light, colors.light);
        palette.setColor(group, QPalette::Midlight, colors.midlight);
        palette.setColor(group, QPalette::Mid, colors.mid);
        palette.setColor(group, QPalette::Dark, colors.dark);
        palette.setColor(group, QPalette::Shadow, colors.shadow);
        palette.setColor(group, QPalette::Highlight, disabled ? colors.mid : colors.highlight);
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
        palette.setColor(group, QPalette::Link, colors.link);
        palette.setColor(group, QPalette::LinkVisited, colors.link);
        palette.setColor(group, QPalette::ToolTipBase, colors.toolTipBase);
        palette.setColor(group, QPalette::ToolTipText, colors.toolTipText);
    }
    return palette;
}

} // namespace

QString rawValue(AppAppearanceSettings appearance)
{
    switch (appearance) {
    case AppAppearanceSettings::system:
        return QStringLiteral("system");
    case AppAppearanceSettings::light:
        return QStringLiteral("light");
    case AppAppearanceSettings::dark:
        break;
    }
    return QStringLiteral("dark");
}

QString title(AppAppearanceSettings appearance)
{
    switch (appearance) {
    case AppAppearanceSettings::system:
        return QStringLiteral("跟随系统");
    case AppAppearanceSettings::light:
        return QStringLiteral("浅色");
    case AppAppearanceSettings::dark:
        break;
    }
    return QStringLiteral("深色");
}

AppAppearanceSettings appAppearanceFromRawValue(const QString& text)
{
    for (const auto appearance : allAppAppearanceSettings) {
        if (rawValue(appearance) == text) {
            return appearance;
        }
    }
    return AppAppearanceSettings::dark;
}

QPalette lightAppearancePalette()
{
    return makePalette({.window = QColor(236, 236, 236),
                        .base = QColor(255, 255, 255),
                        .alternateBase = QColor(244, 245, 245),
                        .text = QColor(28, 28, 30),
                        .button = QColor(248, 248, 248),
                        .light = QColor(255, 255, 255),
                        .midlight = QColor(228, 228, 228),
                        .mid = QColor(188, 188, 188),
                        .dark = QColor(160, 160, 160),
                        .shadow = QColor(110, 110, 110),
                        .highlight = QColor(0, 122, 255),
                        .link = QColor(0, 104, 218),
                        .toolTipBase = QColor(255, 255, 255),
                        .toolTipText = QColor(28, 28, 30)});
}

QPalette darkAppearancePalette()
{
    return makePalette({.window = QColor(40, 40, 42),
                        .base = QColor(30, 30, 31),
                        .alternateBase = QColor(46, 46, 48),
                        .text = QColor(236, 236, 238),
                        .button = QColor(64, 64, 66),
                        .light = QColor(88, 88, 90),
                        .midlight = QColor(72, 72, 74),
                        .mid = QColor(54, 54, 56),
                        .dark = QColor(24, 24, 25),
                        .shadow = QColor(0, 0, 0),
                        .highlight = QColor(10, 132, 255),
                        .link = QColor(64, 156, 255),
                        .toolTipBase = QColor(58, 58, 60),
                        .toolTipText = QColor(236, 236, 238)});
}

bool isDarkPalette(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
}

} // namespace ferrylantern
