#include "server/DestinationReservations.h"

#include "server/UploadNaming.h"

namespace ferrylantern {

DestinationReservations& DestinationReservations::shared()
{
    static DestinationReservations reservations;
    return reservations;
}

bool entryExists(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::not_found && !error;
}

DestinationReservations::Claim DestinationReservations::tryReserve(const std::filesystem::path& path)
{
    const MutexLock guard(lock_);
    if (reserved_.contains(path)) {
        return Claim::reservedByAnother;
    }
    if (entryExists(path)) {
        return Claim::existsOnDisk;
    }
    reserved_.insert(path);
    return Claim::reserved;
}

std::filesystem::path DestinationReservations::reserveFirstFreeCopy(const std::filesystem::path& folder,
                                                                    std::string_view safeName)
{
    const MutexLock guard(lock_);
    for (int n = 1;; ++n) {
        auto candidate = folder / copyName(safeName, n);
        if (!reserved_.contains(candidate) && !entryExists(candidate)) {
            reserved_.insert(candidate);
            return candidate;
        }
    }
}

void DestinationReservations::release(const std::filesystem::path& path)
{
    const MutexLock guard(lock_);
    reserved_.erase(path);
}

} // namespace ferrylantern
