#include "server/DestinationReservations.h"

#include "server/UploadNaming.h"

namespace ferrylantern {

DestinationReservations& DestinationReservations::shared()
{
    static DestinationReservations reservations;
    return reservations;
}

DestinationReservations::Claim DestinationReservations::tryReserve(const ConfinedFolder& folder,
                                                                   const std::string& name)
{
    const auto path = folder.path() / name;
    const MutexLock guard(lock_);
    if (reserved_.contains(path)) {
        return Claim::reservedByAnother;
    }
    if (folder.contains(name)) {
        return Claim::existsOnDisk;
    }
    reserved_.insert(path);
    return Claim::reserved;
}

std::string DestinationReservations::reserveFirstFreeCopy(const ConfinedFolder& folder, std::string_view safeName)
{
    const MutexLock guard(lock_);
    for (int n = 1;; ++n) {
        auto candidate = copyName(safeName, n);
        auto path = folder.path() / candidate;
        if (!reserved_.contains(path) && !folder.contains(candidate)) {
            reserved_.insert(std::move(path));
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
