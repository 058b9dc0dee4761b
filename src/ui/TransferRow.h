// The card of one finished file: name, size, and for audio files the format caption, the time text and
// the waveform with playback; below, the sending device's folder and the receive date. A button shows
// the file in the file manager. A card whose file has gone from the disk says so, drops its audio
// parts and offers to remove the record.
//
// The time text reads the shared controller's position while this file is the active one, else the
// file's duration once the loader knows it, else "--:--.--". Non-audio files show none of the audio
// parts, whatever `showWaveform` says.
//
// GUI thread only (a widget).
#pragma once

#include "server/ServerCallbacks.h"

#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <optional>

class QLabel;
class QToolButton;

namespace ferrylantern {

class AudioFormatCaption;
class AudioPlaybackController;
class AudioWaveformLoader;
class AudioWaveformView;

class TransferRow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TransferRow)

public:
    TransferRow(const ReceivedFileRecord& record, bool showWaveform, AudioPlaybackController& playback,
                AudioWaveformLoader& loader, QWidget* parent = nullptr);
    ~TransferRow() override;

    const ReceivedFileRecord& record() const { return record_; }
    bool isAudio() const { return isAudio_; }

    bool showWaveform() const { return showWaveform_; }
    // Shows or hides the time text and the waveform of an audio card.
    void setShowWaveform(bool show);

    const std::optional<double>& fileDurationSeconds() const { return fileDurationSeconds_; }
    // The time text as shown; empty when the card shows none.
    QString timeText() const;

    bool isMissing() const { return missing_; }
    // The file has gone (or come back): shows the missing note and the remove button, or not.
    void setMissing(bool missing);

signals:
    // Show the record's file selected in the file manager.
    void revealRequested();
    // Take this record off the list.
    void removeRequested();
    void fileDurationLoaded();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void loadDuration();
    void updateTimeText();
    void updateAudioParts();

    ReceivedFileRecord record_;
    QUrl fileURL_;
    bool isAudio_;
    bool showWaveform_;
    AudioPlaybackController& playback_;
    AudioWaveformLoader& loader_;
    std::optional<double> fileDurationSeconds_;
    bool missing_ = false;
    QLabel* time_ = nullptr;
    QToolButton* reveal_ = nullptr;
    QLabel* missingNote_ = nullptr;
    QToolButton* remove_ = nullptr;
    AudioWaveformView* waveform_ = nullptr;
    QPointer<QObject> durationRequest_;
};

} // namespace ferrylantern
