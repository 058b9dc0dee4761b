#include "tests/server/OwnerStandIn.h"

#include <algorithm>
#include <chrono>

namespace ferrylantern::test {

namespace {

constexpr std::chrono::seconds questionTimeout{10};

template <typename Entry, typename Answer>
void answerEntry(std::vector<Entry>& entries, std::size_t index, Answer answer)
{
    auto reply = std::move(entries.at(index).second);
    entries.at(index).second.reset();
    if (reply) {
        reply->resume(answer);
    }
}

} // namespace

TransferServerCallbacks OwnerStandIn::callbacks()
{
    TransferServerCallbacks callbacks;
    callbacks.onFileReceived = [this](const ReceivedFileRecord& record) {
        const std::lock_guard guard(lock_);
        records_.push_back(record);
        changed_.notify_all();
    };
    callbacks.onUploadProgress = [this](const TransferUploadProgressEvent& event) {
        const std::lock_guard guard(lock_);
        events_.push_back(event);
        changed_.notify_all();
    };
    callbacks.confirmBeforeSave = [this](const ReceiveConfirmationRequest& request, OneShotReply<bool> reply) {
        const std::lock_guard guard(lock_);
        if (autoConfirm) {
            reply.resume(*autoConfirm);
            confirmations_.emplace_back(request, std::nullopt);
        } else {
            confirmations_.emplace_back(request, std::move(reply));
        }
        changed_.notify_all();
    };
    callbacks.confirmBatchBeforeSave = [this](const std::vector<ReceiveConfirmationRequest>& requests,
                                              OneShotReply<bool> reply) {
        const std::lock_guard guard(lock_);
        if (autoConfirm) {
            reply.resume(*autoConfirm);
            batches_.emplace_back(requests, std::nullopt);
        } else {
            batches_.emplace_back(requests, std::move(reply));
        }
        changed_.notify_all();
    };
    callbacks.resolveDuplicateFile = [this](const DuplicateFileRequest& request,
                                            OneShotReply<DuplicateFileResolution> reply) {
        const std::lock_guard guard(lock_);
        if (autoDuplicate) {
            reply.resume(*autoDuplicate);
            duplicates_.emplace_back(request, std::nullopt);
        } else {
            duplicates_.emplace_back(request, std::move(reply));
        }
        changed_.notify_all();
    };
    callbacks.onTextReceived = [this](const ReceivedTextRecord& record) {
        const std::lock_guard guard(lock_);
        texts_.push_back(record);
        changed_.notify_all();
    };
    callbacks.onDownloadProgress = [this](const TransferDownloadProgressEvent& event) {
        const std::lock_guard guard(lock_);
        downloadEvents_.push_back(event);
        changed_.notify_all();
    };
    callbacks.onSharedFileMissingChanged = [this](const Uuid& id, bool missing) {
        const std::lock_guard guard(lock_);
        missingChanges_.emplace_back(id, missing);
        changed_.notify_all();
    };
    return callbacks;
}

bool OwnerStandIn::waitFor(const std::function<bool()>& condition)
{
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, questionTimeout, condition);
}

bool OwnerStandIn::waitForConfirmations(std::size_t count)
{
    return waitFor([&] { return confirmations_.size() >= count; });
}

bool OwnerStandIn::waitForBatches(std::size_t count)
{
    return waitFor([&] { return batches_.size() >= count; });
}

bool OwnerStandIn::waitForDuplicates(std::size_t count)
{
    return waitFor([&] { return duplicates_.size() >= count; });
}

bool OwnerStandIn::waitForEvent(const std::function<bool(const TransferUploadProgressEvent&)>& predicate)
{
    return waitFor([&] { return std::any_of(events_.begin(), events_.end(), predicate); });
}

bool OwnerStandIn::waitForDownloadEvent(const std::function<bool(const TransferDownloadProgressEvent&)>& predicate)
{
    return waitFor([&] { return std::any_of(downloadEvents_.begin(), downloadEvents_.end(), predicate); });
}

void OwnerStandIn::answerConfirmation(std::size_t index, bool answer)
{
    const std::lock_guard guard(lock_);
    answerEntry(confirmations_, index, answer);
}

void OwnerStandIn::answerBatch(std::size_t index, bool answer)
{
    const std::lock_guard guard(lock_);
    answerEntry(batches_, index, answer);
}

void OwnerStandIn::answerDuplicate(std::size_t index, DuplicateFileResolution answer)
{
    const std::lock_guard guard(lock_);
    answerEntry(duplicates_, index, answer);
}

void OwnerStandIn::refusePendingQuestions()
{
    const std::lock_guard guard(lock_);
    for (std::size_t i = 0; i < confirmations_.size(); ++i) {
        answerEntry(confirmations_, i, false);
    }
    for (std::size_t i = 0; i < batches_.size(); ++i) {
        answerEntry(batches_, i, false);
    }
    for (std::size_t i = 0; i < duplicates_.size(); ++i) {
        answerEntry(duplicates_, i, DuplicateFileResolution::cancel);
    }
}

std::vector<ReceiveConfirmationRequest> OwnerStandIn::confirmations() const
{
    const std::lock_guard guard(lock_);
    std::vector<ReceiveConfirmationRequest> result;
    for (const auto& entry : confirmations_) {
        result.push_back(entry.first);
    }
    return result;
}

std::vector<std::vector<ReceiveConfirmationRequest>> OwnerStandIn::batches() const
{
    const std::lock_guard guard(lock_);
    std::vector<std::vector<ReceiveConfirmationRequest>> result;
    for (const auto& entry : batches_) {
        result.push_back(entry.first);
    }
    return result;
}

std::vector<DuplicateFileRequest> OwnerStandIn::duplicates() const
{
    const std::lock_guard guard(lock_);
    std::vector<DuplicateFileRequest> result;
    for (const auto& entry : duplicates_) {
        result.push_back(entry.first);
    }
    return result;
}

std::vector<TransferUploadProgressEvent> OwnerStandIn::events() const
{
    const std::lock_guard guard(lock_);
    return events_;
}

std::vector<ReceivedFileRecord> OwnerStandIn::records() const
{
    const std::lock_guard guard(lock_);
    return records_;
}

std::vector<ReceivedTextRecord> OwnerStandIn::texts() const
{
    const std::lock_guard guard(lock_);
    return texts_;
}

std::vector<TransferDownloadProgressEvent> OwnerStandIn::downloadEvents() const
{
    const std::lock_guard guard(lock_);
    return downloadEvents_;
}

std::vector<std::pair<Uuid, bool>> OwnerStandIn::missingChanges() const
{
    const std::lock_guard guard(lock_);
    return missingChanges_;
}

} // namespace ferrylantern::test
