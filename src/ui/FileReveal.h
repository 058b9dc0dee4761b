// Showing received files in the desktop's file manager.
//
// GUI thread only.
//
//     revealInFileManager(record.fileURL);   // the file, selected in its folder
//     openFolder(saveDirectory);             // the folder itself
#pragma once

#include <QDBusConnection>
#include <QString>

namespace ferrylantern {

// Asks the file manager to show `filePath` selected, through the freedesktop FileManager1 interface
// ("ShowItems") on `bus`. Where no file manager answers on the bus (no session bus, no such service,
// an error reply), the file's folder is opened instead. Returns at once; the fallback may come later.
void revealInFileManager(const QString& filePath, const QDBusConnection& bus = QDBusConnection::sessionBus());

// Opens `folderPath` in the desktop's file manager.
void openFolder(const QString& folderPath);

} // namespace ferrylantern
