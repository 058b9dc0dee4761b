#include "server/UploadProgressEmitter.h"

#include <chrono>

namespace ferrylantern {

MonotonicClock steadyNanoseconds()
{
    return [] {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count());
    };
}

UploadProgressEmitter::UploadProgressEmitter(Uuid id, std::function<void(const TransferUploadProgressEvent&)> handler,
                                             MonotonicClock clock)
    : id_(id)
    , handler_(std::move(handler))
    , clock_(std::move(clock))
{}

void UploadProgressEmitter::update(std::int64_t bytesReceived, bool force)
{
    if (!handler_) {
        return;
    }
    const std::uint64_t now = clock_();
    {
        const MutexLock guard(lock_);
        if (!force && lastEmitUptime_ && now - *lastEmitUptime_ < minIntervalNs) {
            return;
        }
        lastEmitUptime_ = now;
    }
    send(UploadUpdated{id_, bytesReceived});
}

void UploadProgressEmitter::started(std::string fileName, std::string deviceFolder, std::int64_t totalBytes) const
{
    send(UploadStarted{id_, std::move(fileName), std::move(deviceFolder), totalBytes});
}

void UploadProgressEmitter::finished() const
{
    send(UploadFinished{id_});
}

void UploadProgressEmitter::failed() const
{
    send(UploadFailed{id_});
}

void UploadProgressEmitter::send(const TransferUploadProgressEvent& event) const
{
    if (handler_) {
        handler_(event);
    }
}

} // namespace ferrylantern
