// One finished file in the list by source: icon, name (shortened in the middle), the format caption
// for audio, size, receive date and a button that shows the file in the file manager. A double click
// anywhere on the row does the same. A row whose file has gone says so and offers to remove the record.
//
// GUI thread only (a widget).
#pragma once

#include "server/ServerCallbacks.h"

#include <QWidget>

class QLabel;
class QToolButton;

namespace ferrylantern {

class AudioFormatCaption;
class AudioWaveformLoader;
class ElidedLabel;
class SymbolButton;

class TransferFinderListRow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TransferFinderListRow)

public:
    static constexpr int iconSide = 20;
    static constexpr int dateColumnWidth = 118;

    TransferFinderListRow(const ReceivedFileRecord& record, AudioWaveformLoader& loader, QWidget* parent = nullptr);

    const ReceivedFileRecord& record() const { return record_; }

    bool isMissing() const { return missing_; }
    void setMissing(bool missing);

signals:
    // Show the record's file selected in the file manager.
    void revealRequested();
    // Take this record off the list.
    void removeRequested();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    ReceivedFileRecord record_;
    bool missing_ = false;
    QToolButton* reveal_ = nullptr;
    QLabel* missingNote_ = nullptr;
    QToolButton* remove_ = nullptr;
};

} // namespace ferrylantern
