#include "server/DownloadProgressEmitter.h"

namespace ferrylantern {

DownloadProgressEmitter::DownloadProgressEmitter(Uuid id,
                                                 std::function<void(const TransferDownloadProgressEvent&)> handler,
                                                 MonotonicClock clock)
    : id_(id)
    , handler_(std::move(handler))
    , clock_(std::move(clock))
{}

DownloadProgressEmitter::~DownloadProgressEmitter()
{
    failed();
}

void DownloadProgressEmitter::started(const Uuid& shareID, std::string fileName, std::string deviceFolder,
                                      std::int64_t totalBytes)
{
    running_ = true;
    send(DownloadStarted{id_, shareID, std::move(fileName), std::move(deviceFolder), totalBytes});
}

void DownloadProgressEmitter::update(std::int64_t bytesSent)
{
    if (!running_ || !handler_) {
        return;
    }
    const std::uint64_t now = clock_();
    if (lastUpdate_ && now - *lastUpdate_ < minIntervalNs) {
        return;
    }
    lastUpdate_ = now;
    send(DownloadUpdated{id_, bytesSent});
}

void DownloadProgressEmitter::finished(std::int64_t bytesSent)
{
    if (!running_) {
        return;
    }
    send(DownloadUpdated{id_, bytesSent});
    running_ = false;
    send(DownloadFinished{id_});
}

void DownloadProgressEmitter::failed()
{
    if (!running_) {
        return;
    }
    running_ = false;
    send(DownloadFailed{id_});
}

void DownloadProgressEmitter::send(const TransferDownloadProgressEvent& event) const
{
    if (handler_) {
        handler_(event);
    }
}

} // namespace ferrylantern
