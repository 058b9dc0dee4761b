// The downloads of shared files in flight, in the order they started, as a list model: a progress
// event changes exactly its row, a new download inserts one row and an ended one removes its row.
//
// GUI thread only. Written by the receiver model alone; views and tests read it.
#pragma once

#include "receiver/ProgressListModel.h"

namespace ferrylantern {

class ActiveDownloadListModel final : public ProgressListModel<TransferSendProgress>
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ActiveDownloadListModel)

public:
    explicit ActiveDownloadListModel(QObject* parent = nullptr);

    const QList<TransferSendProgress>& downloads() const { return rows(); }

    // `started` appends a row (or replaces the row of a known id), `updated` changes the row of a known
    // id, `finished` and `failed` remove it. Returns the row an ending event removed.
    std::optional<TransferSendProgress> apply(const TransferDownloadProgressEvent& event);
};

} // namespace ferrylantern
