#include "ui/AppVersion.h"

#include "BuildInfo.h"

#include <QCoreApplication>

namespace ferrylantern {

QString versionText(const std::optional<QString>& shortVersion, const std::optional<QString>& build)
{
    const QString version = shortVersion.value_or(QStringLiteral("1.0"));
    if (build && !build->isEmpty() && *build != version) {
        return version + QStringLiteral(" (") + *build + QLatin1Char(')');
    }
    return version;
}

QString applicationVersionText()
{
    const QString build = QStringLiteral(FERRYLANTERN_BUILD_NUMBER);
    return versionText(QStringLiteral(FERRYLANTERN_VERSION),
                       build.isEmpty() ? std::nullopt : std::optional<QString>(build));
}

QString applicationDisplayName()
{
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("FerryLantern") : name;
}

} // namespace ferrylantern
