#include "receiver/RecentTransferListModel.h"

#include "receiver/ReceiverTypes.h"

#include <filesystem>

namespace ferrylantern {

namespace {

bool fileIsGone(const ReceivedFileRecord& record)
{
    if (record.text) {
        return false; // a received text lives in the list itself
    }
    std::error_code error;
    const auto status = std::filesystem::status(record.fileURL, error);
    // Only a definite "not there" counts: a folder that cannot be read right now keeps its rows.
    return status.type() == std::filesystem::file_type::not_found;
}

} // namespace

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
        return QString::fromStdString(record.text ? *record.text : record.fileName);
    case recordRole:
        return QVariant::fromValue(record);
    case missingRole:
        return missing_.at(index.row());
    default:
        return {};
    }
}

QHash<int, QByteArray> RecentTransferListModel::roleNames() const
{
    auto names = QAbstractListModel::roleNames();
    names.insert(recordRole, "record");
    names.insert(missingRole, "missing");
    return names;
}

void RecentTransferListModel::prepend(const ReceivedFileRecord& record)
{
    if (records_.size() == maxRecentTransfers) {
        beginRemoveRows({}, maxRecentTransfers - 1, maxRecentTransfers - 1);
        records_.removeLast();
        missing_.removeLast();
        endRemoveRows();
    }
    beginInsertRows({}, 0, 0);
    records_.prepend(record);
    missing_.prepend(false);
    endInsertRows();
}

std::optional<qsizetype> RecentTransferListModel::rowOf(const Uuid& id) const
{
    for (qsizetype row = 0; row < records_.size(); ++row) {
        if (records_.at(row).id == id) {
            return row;
        }
    }
    return std::nullopt;
}

void RecentTransferListModel::reset(QList<ReceivedFileRecord> records)
{
    if (records.size() > maxRecentTransfers) {
        records.resize(maxRecentTransfers);
    }
    beginResetModel();
    records_ = std::move(records);
    missing_.clear();
    for (const auto& record : std::as_const(records_)) {
        missing_.append(fileIsGone(record));
    }
    endResetModel();
}

bool RecentTransferListModel::remove(const Uuid& id)
{
    const auto row = rowOf(id);
    if (!row) {
        return false;
    }
    beginRemoveRows({}, static_cast<int>(*row), static_cast<int>(*row));
    records_.removeAt(*row);
    missing_.removeAt(*row);
    endRemoveRows();
    return true;
}

void RecentTransferListModel::recheckFiles()
{
    for (qsizetype row = 0; row < records_.size(); ++row) {
        setMissing(row, fileIsGone(records_.at(row)));
    }
}

void RecentTransferListModel::setMissing(qsizetype row, bool missing)
{
    if (missing_.at(row) == missing) {
        return;
    }
    missing_[row] = missing;
    const QModelIndex changed = index(static_cast<int>(row));
    emit dataChanged(changed, changed, {missingRole});
}

void RecentTransferListModel::clear()
{
    if (records_.isEmpty()) {
        return;
    }
    beginResetModel();
    records_.clear();
    missing_.clear();
    endResetModel();
}

} // namespace ferrylantern
