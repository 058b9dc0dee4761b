#include "ui/TransferRow.h"

#include "audio/AudioPlaybackController.h"
#include "audio/AudioStreamFormat.h"
#include "audio/AudioWaveformLoader.h"
#include "ui/AudioFormatCaption.h"
#include "ui/AudioWaveformView.h"
#include "ui/ElidedLabel.h"
#include "ui/SymbolWidgets.h"
#include "ui/TransferTexts.h"
#include "ui/ViewStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QShowEvent>
#include <QVBoxLayout>

namespace ferrylantern {

namespace {

constexpr int partSpacing = 8;
constexpr int verticalPadding = 4;

} // namespace

TransferRow::TransferRow(const ReceivedFileRecord& record, bool showWaveform, AudioPlaybackController& playback,
                         AudioWaveformLoader& loader, QWidget* parent)
    : QWidget(parent)
    , record_(record)
    , fileURL_(fileURLOf(record))
    , isAudio_(isAudioFileName(fileNameOf(record)))
    , showWaveform_(showWaveform)
    , playback_(playback)
    , loader_(loader)
{
    setObjectName(QStringLiteral("transferRow"));
    const QString fileName = fileNameOf(record_);

    // Header: name and size (with the caption of an audio file), the time text, the reveal button.
    auto* name = new ElidedLabel(fileName, Qt::ElideMiddle, this);
    name->setObjectName(QStringLiteral("fileName"));
    useFont(name, cardFileNameFont);

    auto* details = new QHBoxLayout;
    details->setContentsMargins(0, 0, 0, 0);
    details->setSpacing(partSpacing);
    details->addWidget(captionLabel(fileSizeText(record_.byteCount), QStringLiteral("fileSize"), this));
    if (isAudio_) {
        auto* caption = new AudioFormatCaption(loader_, this);
        caption->setFile(fileURL_, fileName, record_.byteCount);
        details->addWidget(caption);
    }
    details->addStretch();

    auto* names = new QVBoxLayout;
    names->setContentsMargins(0, 0, 0, 0);
    names->setSpacing(2);
    names->addWidget(name);
    names->addLayout(details);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 0);
    header->setSpacing(partSpacing);
    header->addLayout(names, 1);
    if (isAudio_) {
        time_ = new QLabel(this);
        time_->setObjectName(QStringLiteral("timeText"));
        time_->setTextFormat(Qt::PlainText);
        useFont(time_, cardTimeFont);
        header->addWidget(time_, 0, Qt::AlignVCenter);
    }
    auto* reveal = new SymbolButton(Symbol::folder, SymbolTint::secondary, QStringLiteral("在文件管理器中打开"), this);
    reveal->setObjectName(QStringLiteral("revealButton"));
    connect(reveal, &QToolButton::clicked, this, &TransferRow::revealRequested);
    header->addWidget(reveal, 0, Qt::AlignVCenter);
    reveal_ = reveal;
    remove_ = removeRecordButton(this);
    connect(remove_, &QToolButton::clicked, this, &TransferRow::removeRequested);
    header->addWidget(remove_, 0, Qt::AlignVCenter);

    // Footer: where it came from, and when.
    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(0, 0, 0, 0);
    footer->setSpacing(partSpacing);
    if (const auto source = sourceLineText(deviceFolderOf(record_))) {
        footer->addWidget(captionLabel(*source, QStringLiteral("sourceLine"), this));
    }
    footer->addWidget(
        captionLabel(receivedDateText(toDateTime(record_.receivedAt)), QStringLiteral("receivedDate"), this));
    missingNote_ = missingFileNote(this);
    footer->addWidget(missingNote_);
    footer->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, verticalPadding, 0, verticalPadding);
    layout->setSpacing(partSpacing);
    layout->addLayout(header);
    if (isAudio_) {
        waveform_ = new AudioWaveformView(fileURL_, playback_, loader_, this);
        layout->addWidget(waveform_);
    }
    layout->addLayout(footer);

    if (isAudio_) {
        connect(&playback_, &AudioPlaybackController::activeURLChanged, this, &TransferRow::updateTimeText);
        connect(&playback_, &AudioPlaybackController::timeDisplayTextChanged, this, &TransferRow::updateTimeText);
    }
    updateAudioParts();
    updateTimeText();
}

TransferRow::~TransferRow()
{
    // The waveform view, deleted after this body, may still make the controller change (it ends a drag
    // in progress); this card must not hear of it any more.
    disconnect(&playback_, nullptr, this, nullptr);
}

void TransferRow::setShowWaveform(bool show)
{
    if (show != showWaveform_) {
        showWaveform_ = show;
        updateAudioParts();
    }
}

QString TransferRow::timeText() const
{
    return time_ && !time_->isHidden() ? time_->text() : QString();
}

void TransferRow::setMissing(bool missing)
{
    missing_ = missing;
    missingNote_->setVisible(missing);
    remove_->setVisible(missing);
    reveal_->setVisible(!missing);
    updateAudioParts();
}

void TransferRow::updateAudioParts()
{
    if (!isAudio_) {
        return;
    }
    // Nothing to play or measure once the file is gone.
    time_->setVisible(showWaveform_ && !missing_);
    waveform_->setVisible(showWaveform_ && !missing_);
}

void TransferRow::updateTimeText()
{
    if (!time_) {
        return;
    }
    const bool active = playback_.activeURL() == fileURL_;
    time_->setText(cardTimeText(active, playback_.timeDisplayText(), fileDurationSeconds_));
}

void TransferRow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        loadDuration();
    }
}

void TransferRow::loadDuration()
{
    // Asked each time the card is shown; the loader's cache answers at once for an unchanged file.
    if (!isAudio_) {
        return;
    }
    delete durationRequest_.data();
    auto* request = new QObject(this);
    durationRequest_ = request;
    loader_.loadDurationSeconds(fileURL_, request, [this, request](std::optional<double> seconds) {
        request->deleteLater();
        fileDurationSeconds_ = seconds;
        updateTimeText();
        emit fileDurationLoaded();
    });
}

} // namespace ferrylantern
