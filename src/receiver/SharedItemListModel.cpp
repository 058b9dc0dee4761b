#include "receiver/SharedItemListModel.h"

namespace ferrylantern {

QString description(ShareFailure failure)
{
    switch (failure) {
    case ShareFailure::notARegularFile:
        return QStringLiteral("只能分享文件，不能分享文件夹或已不存在的文件");
    case ShareFailure::unreadable:
        return QStringLiteral("没有读取这个文件的权限");
    case ShareFailure::emptyText:
        return QStringLiteral("文字为空");
    case ShareFailure::textNotUTF8:
        return QStringLiteral("文字不是有效的 UTF-8");
    case ShareFailure::textTooLong:
        return QStringLiteral("文字过长，最多 64 KiB");
    }
    return {};
}

SharedItemListModel::SharedItemListModel(QObject* parent)
    : QAbstractListModel(parent)
{
    qRegisterMetaType<SharedItem>();
}

int SharedItemListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(items_.size());
}

QVariant SharedItemListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const auto& item = items_.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(item.kind == SharedItem::Kind::file ? item.name : item.text);
    case itemRole:
        return QVariant::fromValue(item);
    case missingRole:
        return item.missing;
    default:
        return {};
    }
}

QHash<int, QByteArray> SharedItemListModel::roleNames() const
{
    auto names = QAbstractListModel::roleNames();
    names.insert(itemRole, "item");
    names.insert(missingRole, "missing");
    return names;
}

std::optional<int> SharedItemListModel::rowOf(const Uuid& id) const
{
    for (qsizetype row = 0; row < items_.size(); ++row) {
        if (items_.at(row).id == id) {
            return static_cast<int>(row);
        }
    }
    return std::nullopt;
}

void SharedItemListModel::append(const SharedItem& item)
{
    const int end = static_cast<int>(items_.size());
    beginInsertRows({}, end, end);
    items_.append(item);
    endInsertRows();
}

bool SharedItemListModel::remove(const Uuid& id)
{
    const auto row = rowOf(id);
    if (!row) {
        return false;
    }
    beginRemoveRows({}, *row, *row);
    items_.removeAt(*row);
    endRemoveRows();
    return true;
}

void SharedItemListModel::clear()
{
    if (items_.isEmpty()) {
        return;
    }
    beginResetModel();
    items_.clear();
    endResetModel();
}

void SharedItemListModel::setMissing(const Uuid& id, bool missing)
{
    const auto row = rowOf(id);
    if (!row || items_.at(*row).missing == missing) {
        return;
    }
    items_[*row].missing = missing;
    const QModelIndex changed = index(*row);
    emit dataChanged(changed, changed, {missingRole});
}

} // namespace ferrylantern
