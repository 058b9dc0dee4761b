// The finished transfers as cards, newest first, below the uploads in flight: a TransferRow per file,
// a ReceivedTextRow per text. Bound to the model's list of records row by row: a new one inserts one
// card at the top and the oldest past the limit loses its card; the other cards stay as they are (with
// their waveforms and playback). A record whose file goes missing changes its own card only.
//
// GUI thread only.
#pragma once

#include "receiver/ReceiverTypes.h"

#include <QList>
#include <QScrollArea>

class QVBoxLayout;

namespace ferrylantern {

class AudioPlaybackController;
class AudioWaveformLoader;
class ReceivedTextRow;
class RecentTransferListModel;
class TransferRow;

class TransferCardList final : public QScrollArea
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TransferCardList)

public:
    static constexpr int cardSpacing = 16;

    TransferCardList(const RecentTransferListModel& records, bool showWaveform, AudioPlaybackController& playback,
                     AudioWaveformLoader& loader, QWidget* parent = nullptr);

    // The place above the cards for the uploads in flight.
    QVBoxLayout* activeSlot() const;
    void setShowWaveform(bool show);
    // The cards of files, and of texts, each in the model's order.
    QList<TransferRow*> cards() const;
    QList<ReceivedTextRow*> textCards() const;

signals:
    // The card of record `id` asked to be taken off the list.
    void removeRequested(const ferrylantern::Uuid& id);

private:
    void insertCards(int first, int last);
    void showMissing(int first, int last);
    void removeCards(int first, int last);
    void rebuild();

    const RecentTransferListModel& records_;
    AudioPlaybackController& playback_;
    AudioWaveformLoader& loader_;
    QVBoxLayout* layout_;
    QVBoxLayout* activeSlot_;
    QList<QWidget*> cards_; // one per record, in the model's order
    bool showWaveform_;
};

} // namespace ferrylantern
