// The save folder: the default under the user's downloads folder, a folder the user chose and that is
// remembered across launches, and "scoped access" to it.
//
// On Linux there are no security-scoped bookmarks: the stored bookmark is the folder's absolute path
// (UTF-8 bytes), resolving it never reports a stale bookmark, and access is granted when the folder
// exists and the user may write into it. The order of steps and the failure behaviour are those of a
// platform with real bookmarks, so a folder that went away falls back to the default silently.
//
// GUI thread only (the scoped folder is process-wide state).
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
// removes the bookmark. Fails with the file system's description (preferences unchanged) or with
// scopeAccessDenied (the new preferences stay).
Expected<std::monostate, SaveDirectoryFailure> applySaveDirectory(const QString& folder, bool userSelected,
                                                                  const preferences::PreferenceScope& scope);

// Stores a bookmark of `folder`; returns it, or nullopt when none can be made.
std::optional<QByteArray> refreshSaveDirectoryBookmark(const QString& folder,
                                                       const preferences::PreferenceScope& scope);

// Releases the folder held under scoped access, if any.
void stopAccessingSaveDirectory();

// The folder currently held under scoped access, for tests and diagnostics.
std::optional<QString> scopedSaveDirectory();

// Creates a folder with all missing parents; the error is the file system's description.
std::optional<QString> createFolder(const QString& folder);

} // namespace ferrylantern
