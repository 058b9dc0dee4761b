// Whether the save folder's volume has room for an upload.
#pragma once

#include "server/SocketHTTPError.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace ferrylantern {

// Room that must stay free beyond the announced bytes.
constexpr std::int64_t diskSpaceReserve = 67108864; // 64 MiB

// Bytes available to unprivileged users on the volume of `folder` (statvfs: f_bavail * f_frsize), or
// nullopt when it cannot be read.
std::optional<std::int64_t> availableCapacity(const std::filesystem::path& folder);

// insufficientDiskSpace when the known capacity is below byteCount + 64 MiB; passes when byteCount is
// 0 or the capacity cannot be read.
std::optional<SocketHTTPError> checkDiskSpace(const std::filesystem::path& folder, std::int64_t byteCount);

} // namespace ferrylantern
