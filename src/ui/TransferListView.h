// The main window's detail column: "等待文件" while there is nothing to show; otherwise the uploads in
// flight on top, then the finished files either as cards (newest first) or as a list grouped by
// sending device. Each part follows the model's lists row by row, so a progress event repaints its own
// row and a new file adds its own card; nothing is rebuilt for them.
//
// GUI thread only.
#pragma once

#include "receiver/ReceiverTypes.h"

#include <QStackedWidget>

namespace ferrylantern {

class ActiveReceiveRow;
class ActiveReceiveSection;
class AudioPlaybackController;
class AudioWaveformLoader;
class TransferCardList;
class TransferReceiverModel;
class TransferRow;
class TransferSourceList;
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
    void showMode();

    TransferReceiverModel& model_;
    UserPreferences& preferences_;
    QWidget* emptyState_;
    ActiveReceiveSection* activeSection_;
    TransferCardList* cardList_;
    TransferSourceList* sourceList_;
};

} // namespace ferrylantern
