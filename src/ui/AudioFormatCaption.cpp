#include "ui/AudioFormatCaption.h"

#include "audio/AudioWaveformLoader.h"
#include "ui/ViewStyle.h"

#include <QPainter>

namespace ferrylantern {

namespace {

const QString pendingText = QStringLiteral("\u2026");

} // namespace

AudioFormatCaption::AudioFormatCaption(AudioWaveformLoader& loader, QWidget* parent)
    : QLabel(pendingText, parent)
    , loader_(loader)
{
    setObjectName(QStringLiteral("formatCaption"));
    setTextFormat(Qt::PlainText);
    useFont(this, captionFont);
    useSecondaryForeground(this);
}

void AudioFormatCaption::setFile(const QUrl& fileURL, const QString& fileName, std::int64_t fileByteCount)
{
    // The request is made again only when the file's path or recorded size changes.
    const QString identity = fileURL.path() + QLatin1Char('|') + QString::number(fileByteCount);
    if (identity == identity_) {
        return;
    }
    identity_ = identity;
    delete request_.data();
    auto* request = new QObject(this);
    request_ = request;
    loader_.loadFormatCaption(fileURL, fileName, fileByteCount, request, [this, request](std::optional<QString> text) {
        request->deleteLater();
        setFormatText(std::move(text));
    });
}

void AudioFormatCaption::setFormatText(std::optional<QString> text)
{
    if (text == formatText_) {
        return;
    }
    formatText_ = std::move(text);
    setText(formatText_.value_or(pendingText));
    update();
    emit formatTextChanged();
}

void AudioFormatCaption::paintEvent(QPaintEvent* event)
{
    if (formatText_) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setOpacity(pendingOpacity);
    painter.setFont(font());
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(contentsRect(), static_cast<int>(alignment()), text());
}

} // namespace ferrylantern
