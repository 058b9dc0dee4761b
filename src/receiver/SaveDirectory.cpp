#include "receiver/SaveDirectory.h"

#include "receiver/StartFailureText.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace ferrylantern {

namespace {

// A bookmark is the folder's absolute path; resolving it fails only for data that names no path.
std::optional<QString> resolveBookmark(const QByteArray& bookmark)
{
    const QString path = QString::fromUtf8(bookmark);
    if (path.isEmpty() || !QDir::isAbsolutePath(path)) {
        return std::nullopt;
    }
    return QDir::cleanPath(path);
}

// Files can be written into `folder`: it is a folder and the user may create entries in it.
bool isWritableFolder(const QString& folder)
{
    return QFileInfo(folder).isDir() && access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

} // namespace

QString description(SaveDirectoryError error)
{
    switch (error) {
    case SaveDirectoryError::scopeAccessDenied:
        return QStringLiteral("无法访问所选文件夹，请重新选择");
    }
    return {};
}

QString description(const SaveDirectoryFailure& failure)
{
    if (const auto* error = std::get_if<SaveDirectoryError>(&failure)) {
        return description(*error);
    }
    return std::get<QString>(failure);
}

QString defaultSaveDirectory()
{
    QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (downloads.isEmpty()) {
        downloads = QDir::home().filePath(QStringLiteral("Downloads"));
    }
    return QDir(downloads).filePath(QStringLiteral("FerryLantern"));
}

std::optional<QString> createFolder(const QString& folder)
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(folder.toStdString()), error);
    if (error) {
        return folderFailureText(folder, error);
    }
    return std::nullopt;
}

QString resolveInitialSaveDirectory(const preferences::PreferenceScope& scope)
{
    const auto settings = scope.open();
    const QByteArray bookmark = settings->value(preferences::saveDirectoryBookmark).toByteArray();
    if (!settings->value(preferences::saveDirectoryUserSelected, false).toBool() || bookmark.isEmpty()) {
        return defaultSaveDirectory();
    }
    const auto folder = resolveBookmark(bookmark);
    if (!folder) {
        return defaultSaveDirectory();
    }
    // A path never goes stale, so there is nothing to renew here.
    if (!isWritableFolder(*folder)) {
        return defaultSaveDirectory();
    }
    return *folder;
}

Expected<std::monostate, SaveDirectoryFailure> applySaveDirectory(const QString& folder, bool userSelected,
                                                                  const preferences::PreferenceScope& scope)
{
    if (const auto error = createFolder(folder)) {
        return Unexpected{SaveDirectoryFailure(*error)};
    }
    const auto settings = scope.open();
    if (!userSelected) {
        settings->remove(preferences::saveDirectoryBookmark);
        settings->setValue(preferences::saveDirectoryUserSelected, false);
        return std::monostate{};
    }
    const auto bookmark = refreshSaveDirectoryBookmark(folder, scope);
    if (!bookmark) {
        return Unexpected{SaveDirectoryFailure(QStringLiteral("无法记住所选文件夹"))};
    }
    settings->setValue(preferences::saveDirectoryUserSelected, true);
    if (!isWritableFolder(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()))) {
        return Unexpected{SaveDirectoryFailure(SaveDirectoryError::scopeAccessDenied)};
    }
    return std::monostate{};
}

std::optional<QByteArray> refreshSaveDirectoryBookmark(const QString& folder, const preferences::PreferenceScope& scope)
{
    const QString path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    if (path.isEmpty()) {
        return std::nullopt;
    }
    const QByteArray bookmark = path.toUtf8();
    scope.open()->setValue(preferences::saveDirectoryBookmark, bookmark);
    return bookmark;
}

} // namespace ferrylantern
