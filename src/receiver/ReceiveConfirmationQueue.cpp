#include "receiver/ReceiveConfirmationQueue.h"

#include <algorithm>

namespace ferrylantern {

namespace {

PendingReceiveConfirmation pendingFrom(const ReceiveConfirmationRequest& request)
{
    return {request.uploadID, QString::fromStdString(request.fileName), QString::fromStdString(request.deviceFolder),
            request.byteCount, request.kind};
}

} // namespace

ReceiveConfirmationQueue::ReceiveConfirmationQueue(QObject* parent)
    : QObject(parent)
{}

ReceiveConfirmationQueue::~ReceiveConfirmationQueue() = default;

std::optional<ReceiveConfirmationAlertItem> ReceiveConfirmationQueue::currentReceiveConfirmationItem() const
{
    if (queue_.isEmpty()) {
        return std::nullopt;
    }
    return ReceiveConfirmationAlertItem{queue_.first(), queue_.size()};
}

bool ReceiveConfirmationQueue::waitForReceiveConfirmation(const ReceiveConfirmationRequest& request,
                                                          OneShotReply<bool> reply, qint64 epochWhenAsked)
{
    // Asked while the user was rejecting everything: refused without a question.
    if (epochWhenAsked != epoch_) {
        reply.resume(false);
        return false;
    }
    const auto pending = pendingFrom(request);
    waitingSingles_.append(pending);
    confirmationContinuations_.insert_or_assign(request.uploadID, std::move(reply));
    if (!batchConfirmationContinuation_) {
        auto queue = queue_;
        queue.append(pending);
        setQueue(std::move(queue));
    }
    emit questionQueued();
    return true;
}

bool ReceiveConfirmationQueue::waitForBatchReceiveConfirmation(const std::vector<ReceiveConfirmationRequest>& requests,
                                                               OneShotReply<bool> reply, qint64 epochWhenAsked)
{
    if (requests.empty()) {
        reply.resume(true);
        return false;
    }
    if (epochWhenAsked != epoch_) {
        reply.resume(false);
        return false;
    }
    QList<PendingReceiveConfirmation> entries;
    for (const auto& request : requests) {
        entries.append(pendingFrom(request));
    }
    if (batchConfirmationContinuation_) {
        // One batch is on screen; this one waits its turn rather than pushing the other away.
        waitingBatches_.push_back({std::move(entries), std::move(reply)});
        return true;
    }
    batchConfirmationContinuation_ = std::move(reply);
    setQueue(std::move(entries));
    emit questionQueued();
    return true;
}

void ReceiveConfirmationQueue::respondToCurrentConfirmation(bool accept)
{
    if (batchConfirmationContinuation_) {
        answerCurrentBatch(accept);
        return;
    }
    if (!queue_.isEmpty()) {
        answerSingle(queue_.first().id, accept);
    }
}

bool ReceiveConfirmationQueue::refuse(const Uuid& id)
{
    return answerSingle(id, false);
}

bool ReceiveConfirmationQueue::withdraw(const Uuid& id)
{
    const auto holds = [&](const QList<PendingReceiveConfirmation>& entries) {
        return std::any_of(entries.begin(), entries.end(), [&](const auto& entry) { return entry.id == id; });
    };
    // The replies are dropped unanswered: the server resumed its thread itself when it withdrew.
    if (confirmationContinuations_.erase(id) > 0) {
        waitingSingles_.removeIf([&](const auto& item) { return item.id == id; });
        if (!batchConfirmationContinuation_) {
            auto queue = queue_;
            queue.removeIf([&](const auto& item) { return item.id == id; });
            setQueue(std::move(queue));
        }
        return true;
    }
    if (batchConfirmationContinuation_ && holds(queue_)) {
        batchConfirmationContinuation_.reset();
        showNextConfirmations();
        return true;
    }
    const auto waiting = std::find_if(waitingBatches_.begin(), waitingBatches_.end(),
                                      [&](const auto& batch) { return holds(batch.entries); });
    if (waiting != waitingBatches_.end()) {
        waitingBatches_.erase(waiting);
        return true;
    }
    return false;
}

bool ReceiveConfirmationQueue::answerSingle(const Uuid& id, bool accept)
{
    const auto found = confirmationContinuations_.find(id);
    if (found == confirmationContinuations_.end()) {
        return false;
    }
    auto reply = found->second;
    confirmationContinuations_.erase(found);
    waitingSingles_.removeIf([&](const auto& item) { return item.id == id; });
    auto queue = queue_;
    queue.removeIf([&](const auto& item) { return item.id == id; });
    setQueue(std::move(queue));
    reply.resume(accept);
    return true;
}

void ReceiveConfirmationQueue::answerCurrentBatch(bool accept)
{
    auto reply = std::move(*batchConfirmationContinuation_);
    batchConfirmationContinuation_.reset();
    showNextConfirmations();
    reply.resume(accept);
}

void ReceiveConfirmationQueue::showNextConfirmations()
{
    if (!waitingBatches_.empty()) {
        auto next = std::move(waitingBatches_.front());
        waitingBatches_.pop_front();
        batchConfirmationContinuation_ = std::move(next.reply);
        setQueue(std::move(next.entries));
        emit questionQueued();
        return;
    }
    // Single questions a batch pushed off the screen come back, so each can still be answered.
    setQueue(waitingSingles_);
}

void ReceiveConfirmationQueue::answerAllSingles(bool accept)
{
    auto replies = std::exchange(confirmationContinuations_, {});
    waitingSingles_.clear();
    setQueue({});
    for (auto& [id, reply] : replies) {
        reply.resume(accept);
    }
}

void ReceiveConfirmationQueue::acceptAllConfirmations()
{
    if (batchConfirmationContinuation_) {
        answerCurrentBatch(true);
        return;
    }
    answerAllSingles(true);
}

void ReceiveConfirmationQueue::rejectAllConfirmations()
{
    ++epoch_;
    emit confirmationEpochChanged();
    if (!batchConfirmationContinuation_) {
        answerAllSingles(false);
        return;
    }
    auto reply = std::move(*batchConfirmationContinuation_);
    batchConfirmationContinuation_.reset();
    auto waiting = std::exchange(waitingBatches_, {});
    setQueue(waitingSingles_);
    reply.resume(false);
    for (auto& batch : waiting) {
        batch.reply.resume(false);
    }
}

void ReceiveConfirmationQueue::refuseEverything()
{
    rejectAllConfirmations();
    answerAllSingles(false); // the singles a refused batch brought back to the queue
}

void ReceiveConfirmationQueue::setQueue(QList<PendingReceiveConfirmation> queue)
{
    if (queue_ == queue) {
        return;
    }
    queue_ = std::move(queue);
    emit confirmationQueueChanged();
}

} // namespace ferrylantern
