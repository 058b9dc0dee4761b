#include "server/UploadDestination.h"

#include "server/OwnerQuestions.h"

#include <cerrno>

namespace ferrylantern {

Expected<UploadDestination, SocketHTTPError> UploadDestination::choose(const std::filesystem::path& folder,
                                                                       const std::string& safeName,
                                                                       const TransferServerCallbacks& callbacks,
                                                                       const Uuid& uploadID,
                                                                       const std::string& deviceFolder)
{
    auto& reservations = DestinationReservations::shared();
    const auto candidate = folder / safeName;
    switch (reservations.tryReserve(candidate)) {
    case DestinationReservations::Claim::reserved:
        return UploadDestination(folder, safeName, candidate, false);
    case DestinationReservations::Claim::reservedByAnother:
        return UploadDestination(folder, safeName, reservations.reserveFirstFreeCopy(folder, safeName), false);
    case DestinationReservations::Claim::existsOnDisk:
        break;
    }
    const DuplicateFileRequest question{uploadID, safeName, deviceFolder,
                                        std::filesystem::absolute(candidate).string()};
    switch (askDuplicateResolution(callbacks, question)) {
    case DuplicateFileResolution::overwrite:
        return UploadDestination(folder, safeName, candidate, true);
    case DuplicateFileResolution::keepCopy:
        return UploadDestination(folder, safeName, reservations.reserveFirstFreeCopy(folder, safeName), false);
    case DuplicateFileResolution::cancel:
        break;
    }
    return Unexpected{SocketHTTPError::duplicateRejected};
}

UploadDestination::UploadDestination(std::filesystem::path folder, std::string safeName, std::filesystem::path path,
                                     bool overwrites)
    : folder_(std::move(folder))
    , safeName_(std::move(safeName))
    , path_(std::move(path))
    , overwrites_(overwrites)
    , holdsReservation_(!overwrites)
{}

UploadDestination::UploadDestination(UploadDestination&& other) noexcept
    : folder_(std::move(other.folder_))
    , safeName_(std::move(other.safeName_))
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

Expected<std::filesystem::path, std::error_code> UploadDestination::commit(PartialFile& file)
{
    if (overwrites_) {
        if (const auto error = file.commit(path_, PartialFile::Replace::ifPresent)) {
            return Unexpected{error};
        }
        return path_;
    }
    auto& reservations = DestinationReservations::shared();
    while (true) {
        const auto error = file.commit(path_, PartialFile::Replace::never);
        if (!error) {
            return path_;
        }
        if (error != std::errc::file_exists) {
            return Unexpected{error};
        }
        // Something outside FerryLantern created the name meanwhile: keep it and move on.
        auto next = reservations.reserveFirstFreeCopy(folder_, safeName_);
        reservations.release(path_);
        path_ = std::move(next);
    }
}

} // namespace ferrylantern
