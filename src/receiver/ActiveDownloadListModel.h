// The downloads of shared files in flight, in the order they started, as a list model: a progress
// event changes exactly its row, a new download inserts one row and an ended one removes its row.
//
// GUI thread only. Written by the receiver model alone; views and tests read it.
#pragma once

#include "receiver/ReceiverTypes.h"

#include <QAbstractListModel>
#include <QList>

#include <optional>

namespace ferrylantern {

class ActiveDownloadListModel final : public QAbstractListModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ActiveDownloadListModel)

public:
    // data() gives the file name for Qt::DisplayRole and the whole TransferSendProgress for this role.
    static constexpr int progressRole = Qt::UserRole + 1;

    explicit ActiveDownloadListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<TransferSendProgress>& downloads() const { return downloads_; }
    std::optional<int> rowOf(const Uuid& id) const;

    // `started` appends a row (or replaces the row of a known id), `updated` changes the row of a known
    // id, `finished` and `failed` remove it. Returns the row an ending event removed.
    std::optional<TransferSendProgress> apply(const TransferDownloadProgressEvent& event);

private:
    void changeRow(int row, const TransferSendProgress& progress);

    QList<TransferSendProgress> downloads_;
};

} // namespace ferrylantern
