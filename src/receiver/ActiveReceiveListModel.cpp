#include "receiver/ActiveReceiveListModel.h"

namespace ferrylantern {

ActiveReceiveListModel::ActiveReceiveListModel(QObject* parent, SteadyClock clock)
    : QAbstractListModel(parent)
    , clock_(std::move(clock))
{
    qRegisterMetaType<TransferReceiveProgress>();
}

int ActiveReceiveListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(receives_.size());
}

QVariant ActiveReceiveListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const auto& progress = receives_.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return progress.fileName;
    case progressRole:
        return QVariant::fromValue(progress);
    default:
        return {};
    }
}

QHash<int, QByteArray> ActiveReceiveListModel::roleNames() const
{
    auto names = QAbstractListModel::roleNames();
    names.insert(progressRole, "progress");
    return names;
}

std::optional<int> ActiveReceiveListModel::rowOf(const Uuid& id) const
{
    for (qsizetype row = 0; row < receives_.size(); ++row) {
        if (receives_.at(row).id == id) {
            return static_cast<int>(row);
        }
    }
    return std::nullopt;
}

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
            const int end = static_cast<int>(receives_.size());
            beginInsertRows({}, end, end);
            receives_.append(progress);
            lastBytesAt_.append(clock_());
            endInsertRows();
        }
        return std::nullopt;
    }
    if (!row) {
        return std::nullopt;
    }
    if (const auto* updated = std::get_if<UploadUpdated>(&event)) {
        auto progress = receives_.at(*row);
        if (updated->bytesReceived != progress.bytesReceived) {
            lastBytesAt_[*row] = clock_();
            progress.isStalled = false;
        }
        progress.bytesReceived = updated->bytesReceived;
        changeRow(*row, progress);
        return std::nullopt;
    }
    beginRemoveRows({}, *row, *row);
    auto ended = receives_.takeAt(*row);
    lastBytesAt_.removeAt(*row);
    endRemoveRows();
    return ended;
}

void ActiveReceiveListModel::clear()
{
    if (receives_.isEmpty()) {
        return;
    }
    beginResetModel();
    receives_.clear();
    lastBytesAt_.clear();
    endResetModel();
}

void ActiveReceiveListModel::markStalledRows(std::chrono::milliseconds after,
                                             const std::function<bool(const Uuid&)>& isWaitingForDesktop)
{
    const auto now = clock_();
    for (int row = 0; row < static_cast<int>(receives_.size()); ++row) {
        auto progress = receives_.at(row);
        if (isWaitingForDesktop && isWaitingForDesktop(progress.id)) {
            lastBytesAt_[row] = now;
            progress.isStalled = false;
        } else {
            progress.isStalled = now - lastBytesAt_.at(row) >= after;
        }
        changeRow(row, progress);
    }
}

void ActiveReceiveListModel::changeRow(int row, const TransferReceiveProgress& progress)
{
    if (receives_.at(row) == progress) {
        return;
    }
    receives_[row] = progress;
    const auto changed = index(row);
    emit dataChanged(changed, changed);
}

} // namespace ferrylantern
