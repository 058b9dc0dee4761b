#include "ui/FileReveal.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace ferrylantern {

namespace {

const QString fileManagerService = QStringLiteral("org.freedesktop.FileManager1");
const QString fileManagerPath = QStringLiteral("/org/freedesktop/FileManager1");
constexpr int showItemsTimeoutMilliseconds = 5000;

void openParentFolder(const QString& filePath)
{
    openFolder(QFileInfo(filePath).absolutePath());
}

} // namespace

void revealInFileManager(const QString& filePath, const QDBusConnection& bus)
{
    if (!bus.isConnected()) {
        openParentFolder(filePath);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(fileManagerService, fileManagerPath, fileManagerService,
                                                       QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(filePath).toString(QUrl::FullyEncoded)} << QString();
    const QDBusPendingCall pending = bus.asyncCall(call, showItemsTimeoutMilliseconds);
    auto* watcher = new QDBusPendingCallWatcher(pending);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [filePath](QDBusPendingCallWatcher* done) {
        if (done->isError()) {
            openParentFolder(filePath);
        }
        done->deleteLater();
    });
}

void openFolder(const QString& folderPath)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(folderPath));
}

} // namespace ferrylantern
