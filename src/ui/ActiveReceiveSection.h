// The uploads in flight, one ActiveReceiveRow each, kept in step with the model's list row by row: a
// progress event updates its own row only, a new upload adds one row and an ended one removes its row.
// In the list by source it carries the "正在接收" header (shown while uploads run).
//
// GUI thread only.
#pragma once

#include "receiver/ReceiverTypes.h"

#include <QList>
#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace ferrylantern {

class ActiveReceiveListModel;
class ActiveReceiveRow;

class ActiveReceiveSection final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ActiveReceiveSection)

public:
    explicit ActiveReceiveSection(const ActiveReceiveListModel& receives, QWidget* parent = nullptr);

    // The rows in the model's order.
    const QList<ActiveReceiveRow*>& rows() const { return rows_; }
    void setShowsHeader(bool shows);
    void setRowSpacing(int spacing);

signals:
    void cancelRequested(const ferrylantern::Uuid& id);

private:
    void insertRows(int first, int last);
    void removeRows(int first, int last);
    void changeRows(int first, int last);
    void rebuild();
    void showHeader();

    const ActiveReceiveListModel& receives_;
    QLabel* header_;
    QVBoxLayout* rowLayout_;
    QList<ActiveReceiveRow*> rows_;
    bool showsHeader_ = false;
};

} // namespace ferrylantern
