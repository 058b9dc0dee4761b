// The finished transfers, newest first and at most a hundred, as a list model: received files and
// received texts (a record whose `text` is set). A new one inserts one row at the top (and removes the
// oldest past the limit); the rows already shown are never rebuilt for it. Each file's row also says
// whether its file is still where it was saved: a file that has gone since is flagged missing
// (dataChanged of that one row), and such a row can be removed on its own. A text is never missing.
//
// GUI thread only. Written by the receiver model alone; views and tests read it.
#pragma once

#include "server/ServerCallbacks.h"

#include <QAbstractListModel>
#include <QList>

#include <optional>

namespace ferrylantern {

class RecentTransferListModel final : public QAbstractListModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RecentTransferListModel)

public:
    static constexpr int maxRecentTransfers = 100;
    // data() gives the file name (or the text) for Qt::DisplayRole and the whole ReceivedFileRecord for
    // this role.
    static constexpr int recordRole = Qt::UserRole + 1;
    // Whether the record's file has gone from the disk (bool).
    static constexpr int missingRole = Qt::UserRole + 2;

    explicit RecentTransferListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<ReceivedFileRecord>& records() const { return records_; }
    bool isMissing(qsizetype row) const { return missing_.at(row); }
    // The row of record `id`; none when it is not listed.
    std::optional<qsizetype> rowOf(const Uuid& id) const;

    void prepend(const ReceivedFileRecord& record);
    // Replaces the whole list (at most the limit are kept), checking which files are there.
    void reset(QList<ReceivedFileRecord> records);
    // Removes the row of record `id`; false when it is not listed.
    bool remove(const Uuid& id);
    void clear();
    // Looks at the disk again and flags the rows whose file has gone (or come back), one
    // dataChanged per row that changed.
    void recheckFiles();

private:
    void setMissing(qsizetype row, bool missing);

    QList<ReceivedFileRecord> records_;
    QList<bool> missing_; // parallel to records_
};

} // namespace ferrylantern
