// A device folder inside the save folder, opened so that nothing written through it can land anywhere
// else: the folder is opened relative to the save folder's descriptor without following a symbolic
// link (openat2 with RESOLVE_BENEATH and RESOLVE_NO_SYMLINKS, or O_NOFOLLOW where openat2 is missing),
// and every file inside it is then created, renamed and removed relative to the folder's own
// descriptor. A device folder that someone replaced by a symbolic link (to ~/.ssh, say) is refused,
// not followed; so is one that is swapped for a link while an upload runs.
//
//   auto folder = ConfinedFolder::open(saveDirectory, "小明的 iPhone");   // ELOOP for a symbolic link
//   openat(folder->fd(), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
//
// Thread-compatible: owned by one upload handler.
#pragma once

#include "server/Expected.h"

#include <filesystem>
#include <string_view>
#include <system_error>

namespace ferrylantern {

class ConfinedFolder
{
public:
    // Creates the save folder when it is missing (it is the user's own and may be a link), creates the
    // device folder `name` (one path component) inside it when it is missing, and opens it. Fails with
    // ELOOP when the device folder is a symbolic link, ENOTDIR when it is no folder, EINVAL for a name
    // that is not a single component, or the system's error.
    static Expected<ConfinedFolder, std::error_code> open(const std::filesystem::path& saveDirectory,
                                                          std::string_view name);

    ConfinedFolder(ConfinedFolder&& other) noexcept;
    ConfinedFolder& operator=(ConfinedFolder&&) = delete;
    ConfinedFolder(const ConfinedFolder&) = delete;
    ConfinedFolder& operator=(const ConfinedFolder&) = delete;
    ~ConfinedFolder();

    // Creates, where missing, and opens the folders of `relativePath` ("Trip/Day 1", components joined
    // by "/", as safeSubfolderPath makes them) below this folder, one level at a time and never through
    // a symbolic link. Fails as open() does, for any of the levels (EINVAL for an empty path or
    // component).
    Expected<ConfinedFolder, std::error_code> openSubfolder(std::string_view relativePath) const;

    int fd() const { return fd_; }
    // save folder / device folder, for the records and messages that name it.
    const std::filesystem::path& path() const { return path_; }

    // Whether an entry of this name (a file, a folder, a dangling link, anything) is in the folder.
    bool contains(std::string_view name) const;

private:
    ConfinedFolder(int fd, std::filesystem::path path);

    int fd_ = -1;
    std::filesystem::path path_;
};

// True for the failures of ConfinedFolder::open that mean the device folder is not a plain folder.
bool isUnsafeFolderError(const std::error_code& error);

} // namespace ferrylantern
