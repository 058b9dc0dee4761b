// Draws every window of the application in the appearance the user chose: the Fusion style with the
// light or the dark palette, or the desktop's own palette for "system". Applied to the application
// object, so the main window, the settings window and every dialog change together, at once.
//
// GUI thread only. Create one after the QApplication:
//
//     AppearanceController appearance(UserPreferences::shared());
#pragma once

#include "ui/AppAppearanceSettings.h"
#include "ui/UserPreferences.h"

#include <QObject>

namespace ferrylantern {

class AppearanceController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppearanceController)

public:
    // Switches the application to the Fusion style and applies the stored appearance; follows every
    // later change of the preference.
    explicit AppearanceController(UserPreferences& preferences, QObject* parent = nullptr);

    AppAppearanceSettings appliedAppearance() const { return applied_; }

    // Applies one appearance to the application object. "system" gives the application back the
    // palette of the desktop's theme (the style's own where the desktop has none), which then follows
    // the desktop when it changes.
    static void apply(AppAppearanceSettings appearance);

private:
    UserPreferences& preferences_;
    AppAppearanceSettings applied_;
};

} // namespace ferrylantern
