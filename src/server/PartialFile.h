// A file being received. Bytes go to a hidden temporary file in the destination's folder; only a
// complete file is given its final name, by one rename. Every file operation goes through the
// folder's descriptor (ConfinedFolder.h) and never follows a symbolic link. Until then no partial file ever shows under
// a final name, and a crash leaves at most a hidden ".ferrylantern-….part" file behind. Destroying an uncommitted
// PartialFile removes its temporary file.
//
// Thread-compatible: owned by one upload handler.
#pragma once

#include "server/ConfinedFolder.h"
#include "server/Expected.h"

#include <chrono>
#include <filesystem>
#include <span>
#include <string>
#include <system_error>

namespace ferrylantern {

class PartialFile
{
public:
    // Creates the temporary file in `folder`.
    static Expected<PartialFile, std::error_code> create(const ConfinedFolder& folder);

    PartialFile(PartialFile&& other) noexcept;
    PartialFile& operator=(PartialFile&&) = delete;
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;
    ~PartialFile();

    // Appends every byte or fails with the system's error.
    std::error_code write(std::span<const char> bytes);

    struct PipeTransfer
    {
        std::size_t moved = 0; // bytes that left the pipe for the file
        std::error_code error;
    };
    // Appends `length` bytes that wait in the pipe `pipeFD` with splice(2), so they are copied once,
    // straight into the file's pages. Moves them all unless it fails; what it did not move stays in the
    // pipe. A file system that does not take splice, or a file opened for appending, fails with
    // EINVAL before anything moved (splice(2)).
    PipeTransfer appendFromPipe(int pipeFD, std::size_t length);
    // Closes the file; a failing close (a delayed write error) is reported.
    std::error_code close();

    enum class Replace
    {
        never,     // fail with EEXIST when the destination appeared meanwhile
        ifPresent, // an overwrite: the destination is swapped for this file in one step
    };
    // Gives the closed file its final name `destination` in the same folder. On success the temporary
    // name is gone.
    std::error_code commit(const std::string& destination, Replace replace);

private:
    PartialFile(int folderFD, int fd, std::string name);

    int folderFD_ = -1; // a descriptor of its own, so the file outlives nothing it depends on
    int fd_ = -1;
    std::string name_;
    bool committed_ = false;
};

// The prefix of the hidden temporary names, so tools and tests can recognise leftovers.
inline constexpr std::string_view partialFilePrefix = ".ferrylantern-";
inline constexpr std::string_view partialFileSuffix = ".part";

// True for the exact names PartialFile gives its temporary files: the prefix, a UUID, the suffix.
bool isPartialFileName(std::string_view name);

// A partial file unchanged for this long belongs to no upload of any FerryLantern: a receiving upload
// writes at least once per idle limit (two minutes) or fails and removes its file, and one kept for
// resuming is removed fifteen minutes after its last byte (the sweep looks every ten seconds).
inline constexpr std::chrono::minutes stalePartialFileAge{20};

// Removes the partial files that a killed process or a power cut left in the device folders of
// `saveDirectory`: regular files with a partial file's exact name, unchanged for longer than
// `olderThan`. Younger partial files may belong to another FerryLantern process writing into the same
// folders and are kept, as is every other file. Returns how many files were removed; never fails.
std::size_t removeStalePartialFiles(const std::filesystem::path& saveDirectory,
                                    std::chrono::seconds olderThan = stalePartialFileAge);

} // namespace ferrylantern
