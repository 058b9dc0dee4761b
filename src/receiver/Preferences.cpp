#include "receiver/Preferences.h"

namespace ferrylantern::preferences {

std::unique_ptr<QSettings> PreferenceScope::open() const
{
    if (file_.isEmpty()) {
        return std::make_unique<QSettings>(QStringLiteral("FerryLantern"), QStringLiteral("FerryLantern"));
    }
    return std::make_unique<QSettings>(file_, QSettings::IniFormat);
}

PINSettings PreferenceScope::pinSettings() const
{
    const auto settings = open();
    return PINSettings{.enabled = settings->value(transferPINEnabled, false).toBool(),
                       .code = settings->value(transferPINCode, QString()).toString().toStdString()};
}

PINSettingsProvider PreferenceScope::pinSettingsProvider() const
{
    return [scope = *this] { return scope.pinSettings(); };
}

} // namespace ferrylantern::preferences
