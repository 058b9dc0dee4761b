// Where a received file will be saved: the safe name in its device folder, a copy name when that is
// taken, or the existing file itself when the desktop user chose to overwrite it. The destination is
// claimed before the body arrives and released when the upload ends.
//
// Thread-compatible: owned by one upload handler. The duplicate question is asked on the handler's
// thread with no lock held.
#pragma once

#include "server/ConfinedFolder.h"
#include "server/DestinationReservations.h"
#include "server/Expected.h"
#include "server/OwnerQuestions.h"
#include "server/PartialFile.h"
#include "server/ServerCallbacks.h"
#include "server/SocketHTTPError.h"

#include <filesystem>
#include <string>
#include <variant>

namespace ferrylantern {

class UploadDestination
{
public:
    // Claims the destination for `safeName` in `folder`. A name that is only claimed by another upload
    // in flight silently gets the first free copy name; a name that exists on disk is put to the owner
    // (overwrite, keep a copy, or cancel, which fails with duplicateRejected; tooManyQuestions when
    // the client has too many questions waiting).
    static Expected<UploadDestination, SocketHTTPError>
    choose(const ConfinedFolder& folder, const std::string& safeName, const TransferServerCallbacks& callbacks,
           const Uuid& uploadID, const std::string& deviceFolder, const Asker& asker);

    UploadDestination(UploadDestination&& other) noexcept;
    UploadDestination& operator=(UploadDestination&&) = delete;
    UploadDestination(const UploadDestination&) = delete;
    UploadDestination& operator=(const UploadDestination&) = delete;
    ~UploadDestination();

    // Gives the complete, closed file its final name in `folder` and returns its path. An overwrite
    // replaces the existing file in one step. Otherwise a file that appeared under the claimed name
    // meanwhile is never replaced: the next free copy name is taken instead.
    Expected<std::filesystem::path, std::error_code> commit(const ConfinedFolder& folder, PartialFile& file);

    const std::filesystem::path& path() const { return path_; }

private:
    UploadDestination(std::filesystem::path folder, std::string safeName, std::string name, bool overwrites);

    std::filesystem::path folder_;
    std::string safeName_;
    std::string name_;
    std::filesystem::path path_; // folder_ / name_, the key of the reservation
    bool overwrites_ = false;
    bool holdsReservation_ = false;
};

} // namespace ferrylantern
