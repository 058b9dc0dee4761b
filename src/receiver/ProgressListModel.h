// A list of transfers in flight, in the order they started, as a list model: a progress event changes
// exactly one row (dataChanged for that row), a new transfer appends one row and an ended one removes
// its row, so views update the row concerned and leave the others alone. `Progress` has an `id`, a
// `fileName` and equality.
//
// GUI thread only. Written by the receiver model alone; views and tests read it.
#pragma once

#include "receiver/ReceiverTypes.h"

#include <QAbstractListModel>
#include <QList>

#include <optional>

namespace ferrylantern {

template <typename Progress>
class ProgressListModel : public QAbstractListModel
{
public:
    // data() gives the file name for Qt::DisplayRole and the whole `Progress` for this role.
    static constexpr int progressRole = Qt::UserRole + 1;

    explicit ProgressListModel(QObject* parent)
        : QAbstractListModel(parent)
    {
        qRegisterMetaType<Progress>();
    }

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override
    {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
            return {};
        }
        const auto& progress = rows_.at(index.row());
        switch (role) {
        case Qt::DisplayRole:
            return progress.fileName;
        case progressRole:
            return QVariant::fromValue(progress);
        default:
            return {};
        }
    }

    QHash<int, QByteArray> roleNames() const override
    {
        auto names = QAbstractListModel::roleNames();
        names.insert(progressRole, "progress");
        return names;
    }

    std::optional<int> rowOf(const Uuid& id) const
    {
        for (qsizetype row = 0; row < rows_.size(); ++row) {
            if (rows_.at(row).id == id) {
                return static_cast<int>(row);
            }
        }
        return std::nullopt;
    }

protected:
    const QList<Progress>& rows() const { return rows_; }

    void appendRow(const Progress& progress)
    {
        const int end = static_cast<int>(rows_.size());
        beginInsertRows({}, end, end);
        rows_.append(progress);
        endInsertRows();
    }

    // Emits dataChanged for `row` when `progress` differs from what it holds.
    void changeRow(int row, const Progress& progress)
    {
        if (rows_.at(row) == progress) {
            return;
        }
        rows_[row] = progress;
        const auto changed = index(row);
        emit dataChanged(changed, changed);
    }

    Progress takeRow(int row)
    {
        beginRemoveRows({}, row, row);
        auto taken = rows_.takeAt(row);
        endRemoveRows();
        return taken;
    }

    void clearRows()
    {
        beginResetModel();
        rows_.clear();
        endResetModel();
    }

private:
    QList<Progress> rows_;
};

} // namespace ferrylantern
