// The application's name and version as the about window shows them.
#pragma once

#include <QString>

#include <optional>

namespace ferrylantern {

// short + " (" + build + ")" when a build is given that differs from short; otherwise short; "1.0"
// when there is no short version at all.
QString versionText(const std::optional<QString>& shortVersion, const std::optional<QString>& build);

// The version text of this build: CMake's project version, and the build number when one was
// configured (FERRYLANTERN_BUILD_NUMBER).
QString applicationVersionText();

// The application's name: QCoreApplication's when set, else "FerryLantern".
QString applicationDisplayName();

} // namespace ferrylantern
