#include "ui/AppearanceController.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>
#include <QToolTip>

namespace ferrylantern {

AppearanceController::AppearanceController(UserPreferences& preferences, QObject* parent)
    : QObject(parent)
    , preferences_(preferences)
    , applied_(preferences.appearance())
{
    if (QApplication::style()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) != 0) {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    }
    apply(applied_);
    connect(&preferences_, &UserPreferences::colorSchemeRawValueChanged, this, [this] {
        applied_ = preferences_.appearance();
        apply(applied_);
    });
}

void AppearanceController::apply(AppAppearanceSettings appearance)
{
    switch (appearance) {
    case AppAppearanceSettings::system:
        // A palette with no role set resolves entirely against the theme's palette and keeps
        // following it.
        QApplication::setPalette(QPalette());
        break;
    case AppAppearanceSettings::light:
        QApplication::setPalette(lightAppearancePalette());
        break;
    case AppAppearanceSettings::dark:
        QApplication::setPalette(darkAppearancePalette());
        break;
    }
    // Tooltips keep a palette of their own, taken from the desktop theme; they follow ours instead.
    QToolTip::setPalette(QApplication::palette());
}

} // namespace ferrylantern
