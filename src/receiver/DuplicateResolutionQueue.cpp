#include "receiver/DuplicateResolutionQueue.h"

namespace ferrylantern {

DuplicateResolutionQueue::DuplicateResolutionQueue(QObject* parent)
    : QObject(parent)
{}

DuplicateResolutionQueue::~DuplicateResolutionQueue() = default;

std::optional<DuplicateResolutionAlertItem> DuplicateResolutionQueue::currentDuplicateResolutionItem() const
{
    if (queue_.isEmpty()) {
        return std::nullopt;
    }
    return DuplicateResolutionAlertItem{queue_.first(), queue_.size()};
}

void DuplicateResolutionQueue::waitForDuplicateResolution(const DuplicateFileRequest& request,
                                                          OneShotReply<DuplicateFileResolution> reply)
{
    queue_.append({request.uploadID, QString::fromStdString(request.fileName),
                   QString::fromStdString(request.deviceFolder), QString::fromStdString(request.existingFilePath)});
    duplicateContinuations_.insert_or_assign(request.uploadID, std::move(reply));
    emit duplicateQueueChanged();
    emit questionQueued();
}

void DuplicateResolutionQueue::resolveDuplicate(DuplicateFileResolution resolution, const std::optional<Uuid>& id)
{
    if (!id && queue_.isEmpty()) {
        return;
    }
    const Uuid target = id.value_or(queue_.first().id);
    const auto found = duplicateContinuations_.find(target);
    if (found == duplicateContinuations_.end()) {
        return;
    }
    auto reply = found->second;
    duplicateContinuations_.erase(found);
    queue_.removeIf([&](const auto& item) { return item.id == target; });
    emit duplicateQueueChanged();
    reply.resume(resolution);
}

bool DuplicateResolutionQueue::withdraw(const Uuid& id)
{
    if (duplicateContinuations_.erase(id) == 0) {
        return false;
    }
    queue_.removeIf([&](const auto& item) { return item.id == id; });
    emit duplicateQueueChanged();
    return true;
}

void DuplicateResolutionQueue::resolveAllDuplicates(DuplicateFileResolution resolution)
{
    auto replies = std::exchange(duplicateContinuations_, {});
    if (!queue_.isEmpty()) {
        queue_.clear();
        emit duplicateQueueChanged();
    }
    for (auto& [id, reply] : replies) {
        reply.resume(resolution);
    }
}

} // namespace ferrylantern
