// The destination paths that uploads in flight have claimed. An upload claims its final name before
// it receives a byte, so two uploads of the same name at the same time can never choose the same
// destination: the existence check and the claim happen under one lock.
//
// Thread-safe; one process-wide instance, since several servers (one per start) may write into the
// same folders.
#pragma once

#include "base/Mutex.h"
#include "server/ConfinedFolder.h"

#include <filesystem>
#include <set>
#include <string_view>

namespace ferrylantern {

class DestinationReservations
{
public:
    static DestinationReservations& shared();

    enum class Claim
    {
        reserved,          // the path was free and is now this caller's
        existsOnDisk,      // a file (or anything else) lies there already
        reservedByAnother, // another upload in flight claimed it
    };

    // Claims `name` in `folder`; a claim is known by the folder's path and the name.
    Claim tryReserve(const ConfinedFolder& folder, const std::string& name) EXCLUDES(lock_);

    // Reserves and returns the first copy name of `safeName` in `folder` ("photo-1.jpg",
    // "photo-2.jpg", …) that neither exists (as anything, a dangling link included) nor is claimed.
    std::string reserveFirstFreeCopy(const ConfinedFolder& folder, std::string_view safeName) EXCLUDES(lock_);

    void release(const std::filesystem::path& path) EXCLUDES(lock_);

private:
    Mutex lock_;
    std::set<std::filesystem::path> reserved_ GUARDED_BY(lock_);
};

} // namespace ferrylantern
