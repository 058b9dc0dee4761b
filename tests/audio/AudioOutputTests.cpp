// The controller on the real output engine and a real sound server. scripts/test.sh runs the audio
// tests under scripts/with-pulseaudio.sh, which starts PulseAudio with a null sink when none is running.
#include "audio/AudioPlaybackController.h"
#include "audio/QtAudioOutputEngine.h"
#include "tests/audio/AudioTestFiles.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMediaDevices>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

namespace ferrylantern {
namespace {

// Runs the event loop (so that timers fire on time) until `done` holds, checked after every event the
// controller announces, or until `timeout`.
bool runUntil(AudioPlaybackController& controller, const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    QEventLoop loop;
    const auto check = [&] {
        if (done()) {
            loop.quit();
        }
    };
    QObject::connect(&controller, &AudioPlaybackController::playbackProgressChanged, &loop, check);
    QObject::connect(&controller, &AudioPlaybackController::meterLevelsChanged, &loop, check);
    QObject::connect(&controller, &AudioPlaybackController::stateChanged, &loop, check);
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

TEST(QtAudioOutputEngine, PlaysEachFileToTheEndOfItsStreamOrWhereItBreaksOff)
{
    if (QMediaDevices::audioOutputs().isEmpty()) {
        GTEST_SKIP() << "no sound server reachable (run the tests through scripts/with-pulseaudio.sh, as "
                        "scripts/test.sh does)";
    }
    test::TemporaryFolder folder;
    const auto tone = folder.path() / "tone.wav";
    test::writeWav(tone, 44100, 2, test::sineFrames(44100, 44100, {0.5, 0.5}));
    struct Row
    {
        const char* name;
        std::filesystem::path path;
        double progress; // where the playhead ends
        const char* timeText;
    };
    const Row rows[] = {
        {"a WAV tone", tone, 1.0, "00:01.00 / 00:01.00"},
        // Its length was estimated at 2.47 s; the duration follows the stream to its real end.
        {"a VBR MP3 without a Xing header", test::generatedAudio("vbr-no-xing.mp3"), 1.0, "00:03.03 / 00:03.03"},
        // Its header says 8.05 s; the sound stops after 1.99 s and the playhead stays there.
        {"a truncated MP3", test::generatedAudio("truncated.mp3"), 1.9864 / 8.0457, "00:01.98 / 00:08.04"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QUrl url = QUrl::fromLocalFile(QString::fromStdString(row.path.string()));
        AudioPlaybackController controller(std::make_unique<QtAudioOutputEngine>(),
                                           std::make_unique<ThreadAudioNodeQueue>());
        bool sawProgressUnderway = false;
        float loudest = meterFloorDBFS;
        int finishes = 0;
        QObject::connect(&controller, &AudioPlaybackController::playbackProgressChanged, [&] {
            const double progress = controller.playbackProgress();
            sawProgressUnderway = sawProgressUnderway || (progress > 0 && progress < row.progress);
        });
        QObject::connect(&controller, &AudioPlaybackController::meterLevelsChanged,
                         [&] { loudest = std::max(loudest, controller.meterLevels().leftPeakDBFS); });
        QObject::connect(&controller, &AudioPlaybackController::stateChanged,
                         [&] { finishes += controller.state() == AudioPlaybackController::State::finished; });

        controller.togglePlayPause(url);
        // A null sink's clock stalls for up to two seconds at first; the whole file follows.
        ASSERT_TRUE(runUntil(
            controller, [&] { return finishes > 0; }, std::chrono::seconds(20)))
            << "progress " << controller.playbackProgress();
        EXPECT_TRUE(sawProgressUnderway);
        EXPECT_GT(loudest, meterFloorDBFS);
        EXPECT_NEAR(controller.playbackProgress(), row.progress, 1e-4);
        EXPECT_EQ(controller.timeDisplayText(), QString::fromUtf8(row.timeText));

        // The end is reported once, also by what was already queued behind it.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        EXPECT_EQ(finishes, 1);
    }
}

} // namespace
} // namespace ferrylantern
