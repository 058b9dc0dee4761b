// The gallery's window: one titled section per view, filled with sample data.
#pragma once

#include "ui/gallery/SampleAudio.h"

#include <QList>
#include <QPair>
#include <QWidget>

namespace ferrylantern {

class AudioPlaybackController;
class AudioWaveformLoader;
class UserPreferences;

namespace gallery {

class GalleryWindow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GalleryWindow)

public:
    static constexpr int contentWidth = 720;

    GalleryWindow(const SampleFiles& files, UserPreferences& preferences, AudioPlaybackController& playback,
                  AudioWaveformLoader& loader, QWidget* parent = nullptr);

    // Each section's file-name stem and widget, in the order shown.
    const QList<QPair<QString, QWidget*>>& sections() const { return sections_; }

    // Whether every waveform, caption and duration that can load has loaded.
    bool isSettled() const;

private:
    QWidget* addSection(const QString& stem, const QString& title, QWidget* content);

    QWidget* column_;
    QList<QPair<QString, QWidget*>> sections_;
};

} // namespace gallery
} // namespace ferrylantern
