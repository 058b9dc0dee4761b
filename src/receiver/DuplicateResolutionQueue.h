// The same-name questions waiting for the desktop user: an upload whose file name already exists in
// its device folder holds its server thread until the user chooses to overwrite the file, keep both,
// or cancel. No setting turns them off and rejecting all receive confirmations leaves them waiting.
//
// Every stored reply is resumed exactly once, after the queue has been updated. Replies still stored
// when the queue is destroyed resume with their fallback.
//
// GUI thread only.
#pragma once

#include "receiver/ReceiverTypes.h"
#include "server/OneShotReply.h"

#include <QList>
#include <QObject>

#include <map>
#include <optional>

namespace ferrylantern {

class DuplicateResolutionQueue final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DuplicateResolutionQueue)

public:
    explicit DuplicateResolutionQueue(QObject* parent = nullptr);
    ~DuplicateResolutionQueue() override;

    // The questions in arrival order, head first.
    const QList<PendingDuplicateResolution>& duplicateQueue() const { return queue_; }
    std::optional<DuplicateResolutionAlertItem> currentDuplicateResolutionItem() const;
    bool isWaiting(const Uuid& id) const { return duplicateContinuations_.contains(id); }

    void waitForDuplicateResolution(const DuplicateFileRequest& request, OneShotReply<DuplicateFileResolution> reply);
    // Answers the question of upload `id`, or the head of the queue when no id is given.
    void resolveDuplicate(DuplicateFileResolution resolution, const std::optional<Uuid>& id = std::nullopt);
    void resolveAllDuplicates(DuplicateFileResolution resolution);
    // Takes the question of upload `id` off the queue without answering it: its client has gone and
    // the server gave the question up. False when no such question waits.
    bool withdraw(const Uuid& id);

signals:
    void duplicateQueueChanged();
    // A question now waits for the user (the window comes to the front for it).
    void questionQueued();

private:
    QList<PendingDuplicateResolution> queue_;
    std::map<Uuid, OneShotReply<DuplicateFileResolution>> duplicateContinuations_;
};

} // namespace ferrylantern
