// Whether the save folder's volume has room for an upload, counting the bytes that uploads in flight
// have been promised but not yet written: three uploads that each fit alone do not fill the disk
// together.
//
//   auto promise = DiskSpaceLedger::shared().promise(folder, contentLength);   // or insufficientDiskSpace
//   ...
//   promise->written(count);             // as the body arrives; released when `promise` goes
#pragma once

#include "base/Mutex.h"
#include "server/Expected.h"
#include "server/SocketHTTPError.h"

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>

namespace ferrylantern {

// Room that must stay free beyond the announced bytes.
constexpr std::int64_t diskSpaceReserve = 67108864; // 64 MiB

// Bytes available to unprivileged users on the volume of `folder` (statvfs: f_bavail * f_frsize), or
// nullopt when it cannot be read.
std::optional<std::int64_t> availableCapacity(const std::filesystem::path& folder);

// The bytes promised to uploads in flight, per volume. Thread-safe; one process-wide instance, since
// several servers (one per start) may write to the same volume.
class DiskSpaceLedger
{
public:
    static DiskSpaceLedger& shared();

    // Room held for one upload until it ends; it shrinks as the bytes reach the disk.
    class Promise
    {
    public:
        Promise(Promise&& other) noexcept;
        Promise(const Promise&) = delete;
        Promise& operator=(const Promise&) = delete;
        Promise& operator=(Promise&&) = delete;
        ~Promise();

        // `count` bytes of the upload are on disk now (a running total).
        void written(std::int64_t count);

    private:
        friend class DiskSpaceLedger;
        Promise(DiskSpaceLedger& ledger, dev_t volume, std::int64_t bytes);

        DiskSpaceLedger* ledger_;
        dev_t volume_;
        std::int64_t bytes_;    // promised at the start
        std::int64_t promised_; // still promised: not yet written
    };

    // insufficientDiskSpace when the known capacity less what is promised on that volume is below
    // byteCount + 64 MiB; passes when byteCount is 0 or the capacity cannot be read.
    std::optional<SocketHTTPError> check(const std::filesystem::path& folder, std::int64_t byteCount) EXCLUDES(lock_);
    // The same check, and when it passes the bytes are promised to the caller.
    Expected<Promise, SocketHTTPError> promise(const std::filesystem::path& folder, std::int64_t byteCount)
        EXCLUDES(lock_);

private:
    void change(dev_t volume, std::int64_t by) EXCLUDES(lock_);

    Mutex lock_;
    std::map<dev_t, std::int64_t> promised_ GUARDED_BY(lock_);
};

// DiskSpaceLedger::shared().check(folder, byteCount).
std::optional<SocketHTTPError> checkDiskSpace(const std::filesystem::path& folder, std::int64_t byteCount);

} // namespace ferrylantern
