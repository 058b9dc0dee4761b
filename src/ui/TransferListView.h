// The main window's detail column: "等待文件" while there is nothing to show; otherwise the uploads in
// flight on top, then the finished files either as cards (newest first) or as a list grouped by
// sending device. Rows are kept and updated in place as the model changes, so progress updates and
// audio previews do not rebuild the column.
//
// GUI thread only.
#pragma once

#include "receiver/ReceiverTypes.h"

#include <QHash>
#include <QStackedWidget>

class QLabel;
class QVBoxLayout;
class QScrollArea;

namespace ferrylantern {

class ActiveReceiveRow;
class AudioPlaybackController;
class AudioWaveformLoader;
class TransferReceiverModel;
class TransferRow;
class UserPreferences;

class TransferListView final : public QStackedWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TransferListView)

public:
    TransferListView(TransferReceiverModel& model, UserPreferences& preferences, AudioPlaybackController& playback,
                     AudioWaveformLoader& loader, QWidget* parent = nullptr);

    enum class Mode
    {
        empty,
        cards,
        list,
    };
    Mode mode() const;

    // The rows on show, for tests: cards in order, in-flight rows in order.
    QList<TransferRow*> cards() const;
    QList<ActiveReceiveRow*> activeRows() const;
    // The list mode's section titles in order.
    QStringList listSections() const;

private:
    void showTransfers();
    void showActiveReceives(QVBoxLayout* layout, QHash<QString, ActiveReceiveRow*>& rows, int insertAt);
    void showCards();
    void showList();
    ActiveReceiveRow* makeActiveRow(const TransferReceiveProgress& progress, QWidget* parent);

    TransferReceiverModel& model_;
    UserPreferences& preferences_;
    AudioPlaybackController& playback_;
    AudioWaveformLoader& loader_;
    QWidget* emptyState_;
    QScrollArea* cardScroll_;
    QVBoxLayout* cardLayout_;
    QHash<QString, ActiveReceiveRow*> cardActiveRows_;
    QHash<QString, TransferRow*> cardRows_;
    QScrollArea* listScroll_;
    QWidget* listContent_ = nullptr;
    QVBoxLayout* listActiveLayout_ = nullptr;
    QHash<QString, ActiveReceiveRow*> listActiveRows_;
    QStringList listSections_;
    QStringList listRecordIDs_; // the records the list was last built from
};

} // namespace ferrylantern
