// The uploads in flight, in the order they started, as a list model: a progress event changes exactly
// one row (dataChanged for that row), a new upload inserts one row and an ended one removes its row, so
// views update the row concerned and leave the others alone. A row whose bytes stop coming for a while
// is marked stalled (again one dataChanged), and unmarked by its next bytes.
//
// GUI thread only. Written by the receiver model alone; views and tests read it.
#pragma once

#include "receiver/ReceiverTypes.h"

#include <QAbstractListModel>
#include <QList>

#include <chrono>
#include <functional>
#include <optional>

namespace ferrylantern {

class ActiveReceiveListModel final : public QAbstractListModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ActiveReceiveListModel)

public:
    // data() gives the file name for Qt::DisplayRole and the whole TransferReceiveProgress for this role.
    static constexpr int progressRole = Qt::UserRole + 1;

    using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

    explicit ActiveReceiveListModel(QObject* parent = nullptr, SteadyClock clock = std::chrono::steady_clock::now);

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

    // Marks the rows that received no byte for `after` as stalled. A row whose upload waits for the
    // desktop user's answer (`isWaitingForDesktop`) is not: the silence is not the phone's, and its
    // time starts again.
    void markStalledRows(std::chrono::milliseconds after, const std::function<bool(const Uuid&)>& isWaitingForDesktop);

private:
    void changeRow(int row, const TransferReceiveProgress& progress);

    SteadyClock clock_;
    QList<TransferReceiveProgress> receives_;
    QList<std::chrono::steady_clock::time_point> lastBytesAt_; // per row
};

} // namespace ferrylantern
