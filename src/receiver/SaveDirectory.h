// The save folder: the default under the user's downloads folder, and a folder the user chose that is
// remembered across launches.
//
// The stored bookmark is the folder's absolute path (UTF-8 bytes). A remembered folder is used when it
// still exists and the user may write into it; otherwise the default is used silently, and the
// preferences keep naming the chosen folder so the next launch tries it again.
//
// Thread-compatible: the functions keep no state of their own.
#pragma once

#include "receiver/Preferences.h"
#include "server/Expected.h"

#include <QString>

#include <optional>

namespace ferrylantern {

enum class SaveDirectoryError
{
    scopeAccessDenied,
};

QString description(SaveDirectoryError error);

// The failure of applying a folder: ours, or the file system's description.
using SaveDirectoryFailure = std::variant<SaveDirectoryError, QString>;
QString description(const SaveDirectoryFailure& failure);

// The user's downloads folder (or ~/Downloads when the system names none) plus "FerryLantern".
QString defaultSaveDirectory();

// The folder to use at launch: the remembered folder when one was chosen and can still be reached,
// otherwise the default. Leaves the preferences as they are.
QString resolveInitialSaveDirectory(const preferences::PreferenceScope& scope);

// Creates `folder` and records it: a chosen folder is remembered with its bookmark, the default
// removes the bookmark. Fails with folderFailureText (preferences unchanged) or with
// scopeAccessDenied (the new preferences stay).
Expected<std::monostate, SaveDirectoryFailure> applySaveDirectory(const QString& folder, bool userSelected,
                                                                  const preferences::PreferenceScope& scope);

// Stores a bookmark of `folder`; returns it, or nullopt when none can be made.
std::optional<QByteArray> refreshSaveDirectoryBookmark(const QString& folder,
                                                       const preferences::PreferenceScope& scope);

// Creates a folder with all missing parents; the error is a sentence naming the folder and what is
// wrong with it.
std::optional<QString> createFolder(const QString& folder);

} // namespace ferrylantern
