// The two queues of questions for the desktop user: receive confirmations (single uploads and whole
// batches) and same-name questions. Every stored reply is resumed exactly once: each path removes a
// reply from its store before resuming it, and the stores only ever hold unanswered replies.
#include "receiver/TransferReceiverModel.h"

#include <QTimer>

namespace ferrylantern {

namespace {

PendingReceiveConfirmation pendingFrom(const ReceiveConfirmationRequest& request)
{
    return {request.uploadID, QString::fromStdString(request.fileName), QString::fromStdString(request.deviceFolder),
            request.byteCount};
}

PendingDuplicateResolution pendingFrom(const DuplicateFileRequest& request)
{
    return {request.uploadID, QString::fromStdString(request.fileName), QString::fromStdString(request.deviceFolder),
            QString::fromStdString(request.existingFilePath)};
}

} // namespace

// MARK: Receive confirmations

std::optional<ReceiveConfirmationAlertItem> TransferReceiverModel::currentReceiveConfirmationItem() const
{
    if (confirmationQueue_.isEmpty()) {
        return std::nullopt;
    }
    return ReceiveConfirmationAlertItem{confirmationQueue_.first(), confirmationQueue_.size()};
}

void TransferReceiverModel::waitForReceiveConfirmation(const ReceiveConfirmationRequest& request,
                                                       OneShotReply<bool> reply)
{
    receiveConfirmation(request, std::move(reply), confirmationEpoch_);
}

void TransferReceiverModel::waitForBatchReceiveConfirmation(const std::vector<ReceiveConfirmationRequest>& requests,
                                                            OneShotReply<bool> reply)
{
    receiveBatchConfirmation(requests, std::move(reply), confirmationEpoch_);
}

void TransferReceiverModel::receiveConfirmation(const ReceiveConfirmationRequest& request, OneShotReply<bool> reply,
                                                qint64 epochWhenAsked)
{
    assertGUIThread();
    if (!requireReceiveConfirmation_) {
        reply.resume(true);
        return;
    }
    // Asked while the user was rejecting everything: refused without a question.
    if (epochWhenAsked != confirmationEpoch_) {
        reply.resume(false);
        return;
    }
    const auto pending = pendingFrom(request);
    waitingSingles_.append(pending);
    confirmationContinuations_.insert_or_assign(request.uploadID, std::move(reply));
    if (!batchConfirmationContinuation_) {
        auto queue = confirmationQueue_;
        queue.append(pending);
        setConfirmationQueue(std::move(queue));
    }
    requestBringToFront();
}

void TransferReceiverModel::receiveBatchConfirmation(const std::vector<ReceiveConfirmationRequest>& requests,
                                                     OneShotReply<bool> reply, qint64 epochWhenAsked)
{
    assertGUIThread();
    if (!requireReceiveConfirmation_ || requests.empty()) {
        reply.resume(true);
        return;
    }
    if (epochWhenAsked != confirmationEpoch_) {
        reply.resume(false);
        return;
    }
    QList<PendingReceiveConfirmation> entries;
    for (const auto& request : requests) {
        entries.append(pendingFrom(request));
    }
    if (batchConfirmationContinuation_) {
        // One batch is on screen; this one waits its turn rather than pushing the other away.
        waitingBatches_.push_back({std::move(entries), std::move(reply)});
        return;
    }
    batchConfirmationContinuation_ = std::move(reply);
    setConfirmationQueue(std::move(entries));
    requestBringToFront();
}

void TransferReceiverModel::respondToCurrentConfirmation(bool accept)
{
    assertGUIThread();
    if (batchConfirmationContinuation_) {
        answerCurrentBatch(accept);
        return;
    }
    if (confirmationQueue_.isEmpty()) {
        return;
    }
    answerSingleConfirmation(confirmationQueue_.first().id, accept);
}

bool TransferReceiverModel::answerSingleConfirmation(const Uuid& id, bool accept)
{
    const auto found = confirmationContinuations_.find(id);
    if (found == confirmationContinuations_.end()) {
        return false;
    }
    auto reply = found->second;
    confirmationContinuations_.erase(found);
    waitingSingles_.removeIf([&](const auto& item) { return item.id == id; });
    auto queue = confirmationQueue_;
    queue.removeIf([&](const auto& item) { return item.id == id; });
    setConfirmationQueue(std::move(queue));
    reply.resume(accept);
    return true;
}

void TransferReceiverModel::answerCurrentBatch(bool accept)
{
    auto reply = std::move(*batchConfirmationContinuation_);
    batchConfirmationContinuation_.reset();
    showNextConfirmations();
    reply.resume(accept);
}

void TransferReceiverModel::showNextConfirmations()
{
    if (!waitingBatches_.empty()) {
        auto next = std::move(waitingBatches_.front());
        waitingBatches_.pop_front();
        batchConfirmationContinuation_ = std::move(next.reply);
        setConfirmationQueue(std::move(next.entries));
        requestBringToFront();
        return;
    }
    // Single questions a batch pushed off the screen come back, so each can still be answered.
    setConfirmationQueue(waitingSingles_);
}

void TransferReceiverModel::acceptAllConfirmations()
{
    assertGUIThread();
    if (batchConfirmationContinuation_) {
        answerCurrentBatch(true);
        return;
    }
    auto replies = std::exchange(confirmationContinuations_, {});
    waitingSingles_.clear();
    setConfirmationQueue({});
    for (auto& [id, reply] : replies) {
        reply.resume(true);
    }
}

void TransferReceiverModel::rejectAllConfirmations()
{
    assertGUIThread();
    setConfirmationEpoch(confirmationEpoch_ + 1);
    if (batchConfirmationContinuation_) {
        auto reply = std::move(*batchConfirmationContinuation_);
        batchConfirmationContinuation_.reset();
        auto waiting = std::exchange(waitingBatches_, {});
        setConfirmationQueue(waitingSingles_);
        reply.resume(false);
        for (auto& batch : waiting) {
            batch.reply.resume(false);
        }
    } else {
        auto replies = std::exchange(confirmationContinuations_, {});
        waitingSingles_.clear();
        setConfirmationQueue({});
        for (auto& [id, reply] : replies) {
            reply.resume(false);
        }
    }
    if (httpServer_) {
        for (const auto& receive : activeReceives_) {
            httpServer_->cancelUpload(receive.id);
        }
    }
    setActiveReceives({});
    // Uploads that were authorised a moment ago may only now start; catch those as well.
    QTimer::singleShot(150, this, [this] {
        if (httpServer_) {
            httpServer_->cancelAllUploads();
        }
    });
}

// MARK: Same-name questions

std::optional<DuplicateResolutionAlertItem> TransferReceiverModel::currentDuplicateResolutionItem() const
{
    if (duplicateQueue_.isEmpty()) {
        return std::nullopt;
    }
    return DuplicateResolutionAlertItem{duplicateQueue_.first(), duplicateQueue_.size()};
}

void TransferReceiverModel::waitForDuplicateResolution(const DuplicateFileRequest& request,
                                                       OneShotReply<DuplicateFileResolution> reply)
{
    assertGUIThread();
    auto queue = duplicateQueue_;
    queue.append(pendingFrom(request));
    duplicateContinuations_.insert_or_assign(request.uploadID, std::move(reply));
    setDuplicateQueue(std::move(queue));
    requestBringToFront();
}

void TransferReceiverModel::resolveDuplicate(DuplicateFileResolution resolution, const std::optional<Uuid>& id)
{
    assertGUIThread();
    if (!id && duplicateQueue_.isEmpty()) {
        return;
    }
    const Uuid target = id.value_or(duplicateQueue_.first().id);
    const auto found = duplicateContinuations_.find(target);
    if (found == duplicateContinuations_.end()) {
        return;
    }
    auto reply = found->second;
    duplicateContinuations_.erase(found);
    auto queue = duplicateQueue_;
    queue.removeIf([&](const auto& item) { return item.id == target; });
    setDuplicateQueue(std::move(queue));
    reply.resume(resolution);
}

void TransferReceiverModel::resolveAllDuplicates(DuplicateFileResolution resolution)
{
    assertGUIThread();
    auto replies = std::exchange(duplicateContinuations_, {});
    setDuplicateQueue({});
    for (auto& [id, reply] : replies) {
        reply.resume(resolution);
    }
}

} // namespace ferrylantern
