// What the view tests share: a loader with canned answers, a playback controller on the manual engine,
// preferences in a temporary file, a stand-in for the desktop's URL handlers, and rendering a widget into
// an image.
#pragma once

#include "audio/AudioPlaybackController.h"
#include "audio/AudioWaveformLoader.h"
#include "tests/audio/ManualAudioOutput.h"
#include "tests/support/TestSupport.h"
#include "ui/UserPreferences.h"

#include <QImage>
#include <QTest>
#include <QUrl>
#include <QWidget>

#include <gtest/gtest.h>

#include <future>
#include <map>
#include <memory>
#include <string>

namespace ferrylantern::test {

// Canned loader answers by file path; a path without an entry gets no answer (a failure).
struct CannedAudio
{
    std::map<std::string, StereoWaveformSamples> waveforms;
    std::map<std::string, double> durations;
    std::map<std::string, AudioStreamFormat> formats;

    AudioWaveformLoader::Operations operations() const;
};

// Waits for the loader's work and delivers its answers.
void deliverLoaderAnswers(AudioWaveformLoader& loader);

StereoWaveformSamples monoSamples(float level = 0.5f);
StereoWaveformSamples stereoSamples(float level = 0.5f);

// The playback controller on the manual engine, with files of known formats.
class PlaybackRig
{
public:
    PlaybackRig();

    void addFile(const QUrl& url, AudioFileFormat format);
    // Runs queued engine work and delivers what comes back until nothing is left.
    void settle();

    AudioPlaybackController& controller() { return *controller_; }
    ManualAudioOutputEngine& engine() { return *engine_; }

private:
    std::map<std::string, AudioFileFormat> formats_;
    ManualAudioOutputEngine* engine_;
    ManualAudioNodeQueue* queue_;
    std::unique_ptr<AudioPlaybackController> controller_;
};

// Preferences in a settings file of their own, removed with the object.
class TemporaryPreferences
{
public:
    TemporaryPreferences();
    UserPreferences& operator*() { return *preferences_; }
    UserPreferences* operator->() { return preferences_.get(); }

private:
    TemporaryFolder folder_;
    std::unique_ptr<UserPreferences> preferences_;
};

// Takes the place of the desktop's handler for `scheme` addresses (a file manager, a web browser) while
// it lives, and records what it is asked to open.
class OpenedURLs : public QObject
{
    Q_OBJECT

public:
    explicit OpenedURLs(const QString& scheme = QStringLiteral("file"));
    ~OpenedURLs() override;

    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls.append(url); }

private:
    QString scheme_;
};

// Whether `result` comes within `timeoutMs` while the event loop turns (work on another thread, such
// as a request to the server, often waits for the GUI thread).
template <typename T>
bool arrives(std::future<T>& result, int timeoutMs = 10000)
{
    return QTest::qWaitFor([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                           timeoutMs);
}

// The widget drawn at its current size into an ARGB image.
QImage render(QWidget& widget);

// The contrast ratio of two colours as WCAG 2 defines it, from 1 (none) to 21.
double contrastRatio(const QColor& a, const QColor& b);

} // namespace ferrylantern::test
