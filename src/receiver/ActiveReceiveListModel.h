// The uploads in flight, in the order they started, as a list model: a progress event changes exactly
// one row (dataChanged for that row), a new upload inserts one row and an ended one removes its row, so
// views update the row concerned and leave the others alone.
//
// GUI thread only. Written by the receiver model alone; views and tests read it.
#pragma once

#include "receiver/ReceiverTypes.h"

#include <QAbstractListModel>
#include <QList>

#include <optional>

namespace ferrylantern {

class ActiveReceiveListModel final : public QAbstractListModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ActiveReceiveListModel)

public:
    // data() gives the file name for Qt::DisplayRole and the whole TransferReceiveProgress for this role.
    static constexpr int progressRole = Qt::UserRole + 1;

    explicit ActiveReceiveListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<TransferReceiveProgress>& receives() const { return receives_; }
    std::optional<int> rowOf(const Uuid& id) const;

    // `started` replaces the row of a known id in place or appends one; `updated` changes the row of a
    // known id (unknown ids are ignored); `finished` and `failed` remove the row. Returns the row an
    // ending event removed.
    std::optional<TransferReceiveProgress> apply(const TransferUploadProgressEvent& event);
    // Removes every row.
    void clear();

private:
    void changeRow(int row, const TransferReceiveProgress& progress);

    QList<TransferReceiveProgress> receives_;
};

} // namespace ferrylantern
