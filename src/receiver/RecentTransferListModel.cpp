#include "receiver/RecentTransferListModel.h"

#include "receiver/ReceiverTypes.h"

namespace ferrylantern {

RecentTransferListModel::RecentTransferListModel(QObject* parent)
    : QAbstractListModel(parent)
{
    qRegisterMetaType<ReceivedFileRecord>();
}

int RecentTransferListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(records_.size());
}

QVariant RecentTransferListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const auto& record = records_.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(record.fileName);
    case recordRole:
        return QVariant::fromValue(record);
    default:
        return {};
    }
}

QHash<int, QByteArray> RecentTransferListModel::roleNames() const
{
    auto names = QAbstractListModel::roleNames();
    names.insert(recordRole, "record");
    return names;
}

void RecentTransferListModel::prepend(const ReceivedFileRecord& record)
{
    if (records_.size() == maxRecentTransfers) {
        beginRemoveRows({}, maxRecentTransfers - 1, maxRecentTransfers - 1);
        records_.removeLast();
        endRemoveRows();
    }
    beginInsertRows({}, 0, 0);
    records_.prepend(record);
    endInsertRows();
}

void RecentTransferListModel::clear()
{
    if (records_.isEmpty()) {
        return;
    }
    beginResetModel();
    records_.clear();
    endResetModel();
}

} // namespace ferrylantern
