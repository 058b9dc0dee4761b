// Reports one upload's progress to the owner, at most one `updated` event per 100 ms however small
// the chunks are, so the GUI thread is never flooded.
//
// Thread-safe; normally used by the upload's worker thread only. The handler is called on the calling
// thread with no lock held.
#pragma once

#include "base/Mutex.h"
#include "server/ServerCallbacks.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace ferrylantern {

// Monotonic uptime in nanoseconds; injectable so the throttle can be tested without sleeping.
using MonotonicClock = std::function<std::uint64_t()>;
MonotonicClock steadyNanoseconds();

class UploadProgressEmitter
{
public:
    static constexpr std::uint64_t minIntervalNs = 100000000; // 100 ms

    UploadProgressEmitter(Uuid id, std::function<void(const TransferUploadProgressEvent&)> handler,
                          MonotonicClock clock = steadyNanoseconds());

    // Sends updated(id, bytesReceived) unless one was sent less than 100 ms ago; `force` sends anyway.
    // The first update is always sent.
    void update(std::int64_t bytesReceived, bool force) EXCLUDES(lock_);

    void started(std::string fileName, std::string deviceFolder, std::int64_t totalBytes) const;
    void finished() const;
    void failed() const;

private:
    void send(const TransferUploadProgressEvent& event) const;

    Uuid id_;
    std::function<void(const TransferUploadProgressEvent&)> handler_;
    MonotonicClock clock_;
    Mutex lock_;
    std::optional<std::uint64_t> lastEmitUptime_ GUARDED_BY(lock_); // none until the first update
};

} // namespace ferrylantern
