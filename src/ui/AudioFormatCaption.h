// The one-line caption under a received audio file: its sample rate and bit depth or bit rate
// ("44.1 kHz · 16-bit", "48 kHz · 320 kbps"), or a dimmed "…" until the format is known, and for good
// when it cannot be probed. Names that are not audio never start a probe.
//
// GUI thread only (a widget).
#pragma once

#include <QLabel>
#include <QPointer>
#include <QUrl>

#include <cstdint>
#include <optional>

namespace ferrylantern {

class AudioWaveformLoader;

class AudioFormatCaption final : public QLabel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AudioFormatCaption)

public:
    static constexpr qreal pendingOpacity = 0.45;

    AudioFormatCaption(AudioWaveformLoader& loader, QWidget* parent = nullptr);

    // Asks for the caption of another file; an answer for the previous one is dropped.
    void setFile(const QUrl& fileURL, const QString& fileName, std::int64_t fileByteCount);

    const std::optional<QString>& formatText() const { return formatText_; }

signals:
    void formatTextChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void setFormatText(std::optional<QString> text);

    AudioWaveformLoader& loader_;
    QString identity_;
    std::optional<QString> formatText_;
    QPointer<QObject> request_;
};

} // namespace ferrylantern
