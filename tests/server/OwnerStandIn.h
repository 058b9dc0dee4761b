// Plays the server's owner in tests: records every event, record and question, and answers the
// questions either at once (when an automatic answer is set) or later from the test thread.
#pragma once

#include "server/ServerCallbacks.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace ferrylantern::test {

class OwnerStandIn
{
public:
    TransferServerCallbacks callbacks();

    // Automatic answers; unset means the question waits until the test answers it.
    std::optional<bool> autoConfirm;
    std::optional<DuplicateFileResolution> autoDuplicate;

    // Waits until at least `count` questions of the kind arrived.
    bool waitForConfirmations(std::size_t count);
    bool waitForBatches(std::size_t count);
    bool waitForDuplicates(std::size_t count);
    // Waits until an event satisfying `predicate` was recorded.
    bool waitForEvent(const std::function<bool(const TransferUploadProgressEvent&)>& predicate);
    bool waitForDownloadEvent(const std::function<bool(const TransferDownloadProgressEvent&)>& predicate);

    void answerConfirmation(std::size_t index, bool answer);
    void answerBatch(std::size_t index, bool answer);
    void answerDuplicate(std::size_t index, DuplicateFileResolution answer);
    // Refuses every question still waiting, so that no server thread stays blocked.
    void refusePendingQuestions();

    std::vector<ReceiveConfirmationRequest> confirmations() const;
    std::vector<std::vector<ReceiveConfirmationRequest>> batches() const;
    std::vector<DuplicateFileRequest> duplicates() const;
    std::vector<TransferUploadProgressEvent> events() const;
    std::vector<ReceivedFileRecord> records() const;
    std::vector<ReceivedTextRecord> texts() const;
    std::vector<TransferDownloadProgressEvent> downloadEvents() const;
    // What the server said of shared files, in order: (share id, missing).
    std::vector<std::pair<Uuid, bool>> missingChanges() const;

private:
    bool waitFor(const std::function<bool()>& condition);

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::pair<ReceiveConfirmationRequest, std::optional<OneShotReply<bool>>>> confirmations_;
    std::vector<std::pair<std::vector<ReceiveConfirmationRequest>, std::optional<OneShotReply<bool>>>> batches_;
    std::vector<std::pair<DuplicateFileRequest, std::optional<OneShotReply<DuplicateFileResolution>>>> duplicates_;
    std::vector<TransferUploadProgressEvent> events_;
    std::vector<ReceivedFileRecord> records_;
    std::vector<ReceivedTextRecord> texts_;
    std::vector<TransferDownloadProgressEvent> downloadEvents_;
    std::vector<std::pair<Uuid, bool>> missingChanges_;
};

} // namespace ferrylantern::test
