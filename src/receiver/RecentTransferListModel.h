// The finished files, newest first and at most a hundred, as a list model: a new file inserts one row
// at the top (and removes the oldest past the limit); the rows already shown are never rebuilt for it.
//
// GUI thread only. Written by the receiver model alone; views and tests read it.
#pragma once

#include "server/ServerCallbacks.h"

#include <QAbstractListModel>
#include <QList>

namespace ferrylantern {

class RecentTransferListModel final : public QAbstractListModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RecentTransferListModel)

public:
    static constexpr int maxRecentTransfers = 100;
    // data() gives the file name for Qt::DisplayRole and the whole ReceivedFileRecord for this role.
    static constexpr int recordRole = Qt::UserRole + 1;

    explicit RecentTransferListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<ReceivedFileRecord>& records() const { return records_; }

    void prepend(const ReceivedFileRecord& record);
    void clear();

private:
    QList<ReceivedFileRecord> records_;
};

} // namespace ferrylantern
