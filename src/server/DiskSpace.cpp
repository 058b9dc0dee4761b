#include "server/DiskSpace.h"

#include <sys/statvfs.h>

#include <limits>

namespace ferrylantern {

std::optional<std::int64_t> availableCapacity(const std::filesystem::path& folder)
{
    struct statvfs volume
    {};
    if (statvfs(folder.c_str(), &volume) != 0) {
        return std::nullopt;
    }
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    const std::uint64_t blockSize = volume.f_frsize == 0 ? 1 : volume.f_frsize;
    if (volume.f_bavail > largest / blockSize) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return static_cast<std::int64_t>(volume.f_bavail * blockSize);
}

std::optional<SocketHTTPError> checkDiskSpace(const std::filesystem::path& folder, std::int64_t byteCount)
{
    if (byteCount <= 0) {
        return std::nullopt;
    }
    const auto capacity = availableCapacity(folder);
    if (capacity && *capacity < byteCount + diskSpaceReserve) {
        return SocketHTTPError::insufficientDiskSpace;
    }
    return std::nullopt;
}

} // namespace ferrylantern
