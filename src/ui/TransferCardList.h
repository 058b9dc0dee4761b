// The finished files as cards, newest first, below the uploads in flight. Bound to the model's list of
// records row by row: a new file inserts one card at the top and the oldest past the limit loses its
// card; the other cards stay as they are (with their waveforms and playback). A record whose file goes
// missing changes its own card only.
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
    // The cards in the model's order.
    const QList<TransferRow*>& cards() const { return cards_; }

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
    QList<TransferRow*> cards_;
    bool showWaveform_;
};

} // namespace ferrylantern
