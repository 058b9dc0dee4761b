// The receive confirmations waiting for the desktop user: single uploads and whole batches, each
// holding a server thread until it is answered, and the epoch that refuses questions which arrive
// while everything is being rejected.
//
//   queue.waitForReceiveConfirmation(request, reply, queue.confirmationEpoch()); // queued
//   queue.respondToCurrentConfirmation(true);                                      // reply resumed
//
// Every stored reply is resumed exactly once: each path removes a reply from its store before
// resuming it, and the stores only ever hold unanswered replies. Replies still stored when the queue
// is destroyed resume with their refusing fallback.
//
// GUI thread only.
#pragma once

#include "receiver/ReceiverTypes.h"
#include "server/OneShotReply.h"

#include <QList>
#include <QObject>

#include <deque>
#include <map>
#include <optional>
#include <vector>

namespace ferrylantern {

class ReceiveConfirmationQueue final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReceiveConfirmationQueue)

public:
    explicit ReceiveConfirmationQueue(QObject* parent = nullptr);
    ~ReceiveConfirmationQueue() override;

    // The questions on show, head first: the batch on screen, or the single questions in arrival order.
    const QList<PendingReceiveConfirmation>& confirmationQueue() const { return queue_; }
    // Only ever increases, by one per rejectAllConfirmations().
    qint64 confirmationEpoch() const { return epoch_; }
    // The head of the queue and the queue's length; none when nothing waits.
    std::optional<ReceiveConfirmationAlertItem> currentReceiveConfirmationItem() const;

    // Queues a question asked while the epoch was `epochWhenAsked`; a question asked before the latest
    // reject-all is refused at once. Returns whether the question now waits for the user.
    bool waitForReceiveConfirmation(const ReceiveConfirmationRequest& request, OneShotReply<bool> reply,
                                    qint64 epochWhenAsked);
    // One question and one answer for a whole batch. A batch that arrives while another is on screen
    // waits its turn. An empty batch is approved at once. Returns whether the batch now waits.
    bool waitForBatchReceiveConfirmation(const std::vector<ReceiveConfirmationRequest>& requests,
                                         OneShotReply<bool> reply, qint64 epochWhenAsked);

    // Answers the batch on screen, or else the head of the queue.
    void respondToCurrentConfirmation(bool accept);
    // Approves the batch on screen, or else every single question.
    void acceptAllConfirmations();
    // Moves the epoch on, then refuses the batch on screen and the batches waiting behind it, or else
    // every single question.
    void rejectAllConfirmations();
    // Refuses every question, on screen or waiting: nothing is left holding a server thread.
    void refuseEverything();
    // Refuses the single question of upload `id`; false when none waits.
    bool refuse(const Uuid& id);
    // Takes the question that `id` belongs to (a single question, or any file of a batch) off the
    // queue without answering it: its client has gone and the server gave the question up. False when
    // no such question waits.
    bool withdraw(const Uuid& id);

signals:
    // confirmationQueue() changed.
    void confirmationQueueChanged();
    void confirmationEpochChanged();
    // A question now waits for the user (the window comes to the front for it).
    void questionQueued();

private:
    struct PendingBatch
    {
        QList<PendingReceiveConfirmation> entries;
        OneShotReply<bool> reply;
    };

    void setQueue(QList<PendingReceiveConfirmation> queue);
    // Removes the single question `id` from the queue and its reply from the store, then answers it;
    // false when no such question waits.
    bool answerSingle(const Uuid& id, bool accept);
    void answerCurrentBatch(bool accept);
    void showNextConfirmations();
    void answerAllSingles(bool accept);

    QList<PendingReceiveConfirmation> queue_;
    std::map<Uuid, OneShotReply<bool>> confirmationContinuations_;
    std::optional<OneShotReply<bool>> batchConfirmationContinuation_;
    // Batches that arrived while another batch was on screen, answered in turn.
    std::deque<PendingBatch> waitingBatches_;
    // The single questions whose replies wait, in arrival order; they return to the queue when a
    // batch that displaced them is answered.
    QList<PendingReceiveConfirmation> waitingSingles_;
    qint64 epoch_ = 0;
};

} // namespace ferrylantern
