// The uploads in flight, in the order they started, as a list model: a progress event changes exactly
// one row (dataChanged for that row), a new upload inserts one row and an ended one removes its row, so
// views update the row concerned and leave the others alone. A row whose bytes stop coming for a while
// is marked stalled (again one dataChanged), and unmarked by its next bytes.
//
// GUI thread only. Written by the receiver model alone; views and tests read it.
#pragma once

#include "receiver/ProgressListModel.h"

#include <chrono>
#include <functional>

namespace ferrylantern {

class ActiveReceiveListModel final : public ProgressListModel<TransferReceiveProgress>
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ActiveReceiveListModel)

public:
    using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

    explicit ActiveReceiveListModel(QObject* parent = nullptr, SteadyClock clock = std::chrono::steady_clock::now);

    const QList<TransferReceiveProgress>& receives() const { return rows(); }

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
    SteadyClock clock_;
    QList<std::chrono::steady_clock::time_point> lastBytesAt_; // per row
};

} // namespace ferrylantern
