#include "receiver/ActiveDownloadListModel.h"

namespace ferrylantern {

ActiveDownloadListModel::ActiveDownloadListModel(QObject* parent)
    : QAbstractListModel(parent)
{
    qRegisterMetaType<TransferSendProgress>();
}

int ActiveDownloadListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(downloads_.size());
}

QVariant ActiveDownloadListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const auto& progress = downloads_.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return progress.fileName;
    case progressRole:
        return QVariant::fromValue(progress);
    default:
        return {};
    }
}

QHash<int, QByteArray> ActiveDownloadListModel::roleNames() const
{
    auto names = QAbstractListModel::roleNames();
    names.insert(progressRole, "progress");
    return names;
}

std::optional<int> ActiveDownloadListModel::rowOf(const Uuid& id) const
{
    for (qsizetype row = 0; row < downloads_.size(); ++row) {
        if (downloads_.at(row).id == id) {
            return static_cast<int>(row);
        }
    }
    return std::nullopt;
}

std::optional<TransferSendProgress> ActiveDownloadListModel::apply(const TransferDownloadProgressEvent& event)
{
    const auto id = downloadID(event);
    const auto row = rowOf(id);
    if (const auto* started = std::get_if<DownloadStarted>(&event)) {
        const TransferSendProgress progress{id,
                                            started->shareID,
                                            QString::fromStdString(started->fileName),
                                            QString::fromStdString(started->deviceFolder),
                                            0,
                                            started->totalBytes};
        if (row) {
            changeRow(*row, progress);
        } else {
            const int end = static_cast<int>(downloads_.size());
            beginInsertRows({}, end, end);
            downloads_.append(progress);
            endInsertRows();
        }
        return std::nullopt;
    }
    if (!row) {
        return std::nullopt;
    }
    if (const auto* updated = std::get_if<DownloadUpdated>(&event)) {
        auto progress = downloads_.at(*row);
        progress.bytesSent = updated->bytesSent;
        changeRow(*row, progress);
        return std::nullopt;
    }
    beginRemoveRows({}, *row, *row);
    auto ended = downloads_.takeAt(*row);
    endRemoveRows();
    return ended;
}

void ActiveDownloadListModel::changeRow(int row, const TransferSendProgress& progress)
{
    if (downloads_.at(row) == progress) {
        return;
    }
    downloads_[row] = progress;
    const auto changed = index(row);
    emit dataChanged(changed, changed);
}

} // namespace ferrylantern
