// Reports one download's progress to the owner: started, at most one `updated` per 100 ms however
// small the pieces sent, then finished or failed, exactly once.
//
// Thread-compatible: the download's worker thread owns it. The handler runs on that thread.
#pragma once

#include "server/ServerCallbacks.h"
#include "server/UploadProgressEmitter.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace ferrylantern {

class DownloadProgressEmitter
{
public:
    static constexpr std::uint64_t minIntervalNs = UploadProgressEmitter::minIntervalNs;

    DownloadProgressEmitter(Uuid id, std::function<void(const TransferDownloadProgressEvent&)> handler,
                            MonotonicClock clock = steadyNanoseconds());
    // A download that started and neither finished nor failed is reported failed.
    ~DownloadProgressEmitter();
    DownloadProgressEmitter(const DownloadProgressEmitter&) = delete;
    DownloadProgressEmitter& operator=(const DownloadProgressEmitter&) = delete;

    void started(const Uuid& shareID, std::string fileName, std::string deviceFolder, std::int64_t totalBytes);
    // Sends updated(id, bytesSent) unless one went out less than 100 ms ago; the first always goes.
    void update(std::int64_t bytesSent);
    void finished(std::int64_t bytesSent);
    void failed();

private:
    void send(const TransferDownloadProgressEvent& event) const;

    Uuid id_;
    std::function<void(const TransferDownloadProgressEvent&)> handler_;
    MonotonicClock clock_;
    std::optional<std::uint64_t> lastUpdate_;
    bool running_ = false;
};

} // namespace ferrylantern
