#include "receiver/ActiveReceiveListModel.h"

namespace ferrylantern {

ActiveReceiveListModel::ActiveReceiveListModel(QObject* parent, SteadyClock clock)
    : ProgressListModel(parent)
    , clock_(std::move(clock))
{}

std::optional<TransferReceiveProgress> ActiveReceiveListModel::apply(const TransferUploadProgressEvent& event)
{
    const auto id = uploadID(event);
    const auto row = rowOf(id);
    if (const auto* started = std::get_if<UploadStarted>(&event)) {
        const TransferReceiveProgress progress{id, QString::fromStdString(started->fileName),
                                               QString::fromStdString(started->deviceFolder), 0, started->totalBytes};
        if (row) {
            lastBytesAt_[*row] = clock_();
            changeRow(*row, progress);
        } else {
            lastBytesAt_.append(clock_());
            appendRow(progress);
        }
        return std::nullopt;
    }
    if (!row) {
        return std::nullopt;
    }
    if (const auto* updated = std::get_if<UploadUpdated>(&event)) {
        auto progress = rows().at(*row);
        if (updated->bytesReceived != progress.bytesReceived) {
            lastBytesAt_[*row] = clock_();
            progress.isStalled = false;
        }
        progress.bytesReceived = updated->bytesReceived;
        changeRow(*row, progress);
        return std::nullopt;
    }
    lastBytesAt_.removeAt(*row);
    return takeRow(*row);
}

void ActiveReceiveListModel::clear()
{
    if (rows().isEmpty()) {
        return;
    }
    lastBytesAt_.clear();
    clearRows();
}

void ActiveReceiveListModel::markStalledRows(std::chrono::milliseconds after,
                                             const std::function<bool(const Uuid&)>& isWaitingForDesktop)
{
    const auto now = clock_();
    for (int row = 0; row < static_cast<int>(rows().size()); ++row) {
        auto progress = rows().at(row);
        if (isWaitingForDesktop && isWaitingForDesktop(progress.id)) {
            lastBytesAt_[row] = now;
            progress.isStalled = false;
        } else {
            progress.isStalled = now - lastBytesAt_.at(row) >= after;
        }
        changeRow(row, progress);
    }
}

} // namespace ferrylantern
