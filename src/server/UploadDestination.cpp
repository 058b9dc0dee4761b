#include "server/UploadDestination.h"

#include <cerrno>

namespace ferrylantern {

Expected<UploadDestination, SocketHTTPError>
UploadDestination::choose(const ConfinedFolder& folder, const std::string& safeName,
                          const TransferServerCallbacks& callbacks, const Uuid& uploadID,
                          const std::string& deviceFolder, const Asker& asker)
{
    auto& reservations = DestinationReservations::shared();
    switch (reservations.tryReserve(folder, safeName)) {
    case DestinationReservations::Claim::reserved:
        return UploadDestination(folder.path(), safeName, safeName, false);
    case DestinationReservations::Claim::reservedByAnother:
        return UploadDestination(folder.path(), safeName, reservations.reserveFirstFreeCopy(folder, safeName), false);
    case DestinationReservations::Claim::existsOnDisk:
        break;
    }
    const DuplicateFileRequest question{uploadID, safeName, deviceFolder,
                                        std::filesystem::absolute(folder.path() / safeName).string()};
    const auto answer = askDuplicateResolution(callbacks, question, asker);
    if (!answer) {
        return Unexpected{answer.error()};
    }
    switch (*answer) {
    case DuplicateFileResolution::overwrite:
        return UploadDestination(folder.path(), safeName, safeName, true);
    case DuplicateFileResolution::keepCopy:
        return UploadDestination(folder.path(), safeName, reservations.reserveFirstFreeCopy(folder, safeName), false);
    case DuplicateFileResolution::cancel:
        break;
    }
    return Unexpected{SocketHTTPError::duplicateRejected};
}

UploadDestination::UploadDestination(std::filesystem::path folder, std::string safeName, std::string name,
                                     bool overwrites)
    : folder_(std::move(folder))
    , safeName_(std::move(safeName))
    , name_(std::move(name))
    , path_(folder_ / name_)
    , overwrites_(overwrites)
    , holdsReservation_(!overwrites)
{}

UploadDestination::UploadDestination(UploadDestination&& other) noexcept
    : folder_(std::move(other.folder_))
    , safeName_(std::move(other.safeName_))
    , name_(std::move(other.name_))
    , path_(std::move(other.path_))
    , overwrites_(other.overwrites_)
    , holdsReservation_(std::exchange(other.holdsReservation_, false))
{}

UploadDestination::~UploadDestination()
{
    if (holdsReservation_) {
        DestinationReservations::shared().release(path_);
    }
}

Expected<std::filesystem::path, std::error_code> UploadDestination::commit(const ConfinedFolder& folder,
                                                                           PartialFile& file)
{
    if (overwrites_) {
        if (const auto error = file.commit(name_, PartialFile::Replace::ifPresent)) {
            return Unexpected{error};
        }
        return path_;
    }
    auto& reservations = DestinationReservations::shared();
    while (true) {
        const auto error = file.commit(name_, PartialFile::Replace::never);
        if (!error) {
            return path_;
        }
        if (error != std::errc::file_exists) {
            return Unexpected{error};
        }
        // Something outside FerryLantern created the name meanwhile: keep it and move on.
        auto next = reservations.reserveFirstFreeCopy(folder, safeName_);
        reservations.release(path_);
        name_ = std::move(next);
        path_ = folder_ / name_;
    }
}

} // namespace ferrylantern
