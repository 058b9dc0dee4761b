#include "server/DiskSpace.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <limits>
#include <utility>

namespace ferrylantern {

namespace {

std::optional<dev_t> volumeOf(const std::filesystem::path& folder)
{
    struct stat status
    {};
    if (stat(folder.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return status.st_dev;
}

} // namespace

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

DiskSpaceLedger& DiskSpaceLedger::shared()
{
    static DiskSpaceLedger ledger;
    return ledger;
}

std::optional<SocketHTTPError> DiskSpaceLedger::check(const std::filesystem::path& folder, std::int64_t byteCount)
{
    if (byteCount <= 0) {
        return std::nullopt;
    }
    const auto capacity = availableCapacity(folder);
    const auto volume = volumeOf(folder);
    if (!capacity) {
        return std::nullopt;
    }
    std::int64_t promised = 0;
    if (volume) {
        const MutexLock guard(lock_);
        const auto found = promised_.find(*volume);
        promised = found == promised_.end() ? 0 : found->second;
    }
    if (*capacity - promised < byteCount + diskSpaceReserve) {
        return SocketHTTPError::insufficientDiskSpace;
    }
    return std::nullopt;
}

Expected<DiskSpaceLedger::Promise, SocketHTTPError> DiskSpaceLedger::promise(const std::filesystem::path& folder,
                                                                             std::int64_t byteCount)
{
    const auto volume = volumeOf(folder);
    const auto capacity = availableCapacity(folder);
    if (byteCount <= 0 || !volume || !capacity) {
        return Promise(*this, volume.value_or(0), 0);
    }
    // Checked and promised under one lock, so two uploads cannot both take the last room.
    const MutexLock guard(lock_);
    auto& promised = promised_[*volume];
    if (*capacity - promised < byteCount + diskSpaceReserve) {
        if (promised == 0) {
            promised_.erase(*volume);
        }
        return Unexpected{SocketHTTPError::insufficientDiskSpace};
    }
    promised += byteCount;
    return Promise(*this, *volume, byteCount);
}

void DiskSpaceLedger::change(dev_t volume, std::int64_t by)
{
    const MutexLock guard(lock_);
    auto& promised = promised_[volume];
    promised += by;
    if (promised <= 0) {
        promised_.erase(volume);
    }
}

DiskSpaceLedger::Promise::Promise(DiskSpaceLedger& ledger, dev_t volume, std::int64_t bytes)
    : ledger_(&ledger)
    , volume_(volume)
    , bytes_(bytes)
    , promised_(bytes)
{}

DiskSpaceLedger::Promise::Promise(Promise&& other) noexcept
    : ledger_(std::exchange(other.ledger_, nullptr))
    , volume_(other.volume_)
    , bytes_(other.bytes_)
    , promised_(std::exchange(other.promised_, 0))
{}

DiskSpaceLedger::Promise::~Promise()
{
    if (ledger_ != nullptr && promised_ > 0) {
        ledger_->change(volume_, -promised_);
    }
}

void DiskSpaceLedger::Promise::written(std::int64_t count)
{
    // What is on disk is no longer free, so it stops counting as promised.
    const std::int64_t stillPromised = std::max<std::int64_t>(0, bytes_ - count);
    if (ledger_ != nullptr && stillPromised < promised_) {
        ledger_->change(volume_, stillPromised - promised_);
        promised_ = stillPromised;
    }
}

std::optional<SocketHTTPError> checkDiskSpace(const std::filesystem::path& folder, std::int64_t byteCount)
{
    return DiskSpaceLedger::shared().check(folder, byteCount);
}

} // namespace ferrylantern
