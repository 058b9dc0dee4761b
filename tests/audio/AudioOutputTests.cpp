// The controller on the real output engine and a real sound server. scripts/test.sh runs the audio
// tests under scripts/with-pulseaudio.sh, which starts PulseAudio with a null sink when none is running.
#include "audio/AudioPlaybackController.h"
#include "audio/QtAudioOutputEngine.h"
#include "tests/audio/AudioTestFiles.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QMediaDevices>

#include <gtest/gtest.h>

namespace ferrylantern {
namespace {

TEST(QtAudioOutputEngine, PlaysAToneToItsEndWithProgressAndLevels)
{
    if (QMediaDevices::audioOutputs().isEmpty()) {
        GTEST_SKIP() << "no sound server reachable (run the tests through scripts/with-pulseaudio.sh, as "
                        "scripts/test.sh does)";
    }
    test::TemporaryFolder folder;
    const auto path = folder.path() / "tone.wav";
    test::writeWav(path, 44100, 2, test::sineFrames(44100, 44100, {0.5, 0.5}));
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(path.string()));
    AudioPlaybackController controller(std::make_unique<QtAudioOutputEngine>(),
                                       std::make_unique<ThreadAudioNodeQueue>());

    bool sawProgressUnderway = false;
    float loudest = meterFloorDBFS;
    int finishes = 0;
    QObject::connect(&controller, &AudioPlaybackController::playbackProgressChanged, [&] {
        const double progress = controller.playbackProgress();
        sawProgressUnderway = sawProgressUnderway || (progress > 0 && progress < 1);
    });
    QObject::connect(&controller, &AudioPlaybackController::meterLevelsChanged,
                     [&] { loudest = std::max(loudest, controller.meterLevels().leftPeakDBFS); });
    QObject::connect(&controller, &AudioPlaybackController::stateChanged,
                     [&] { finishes += controller.state() == AudioPlaybackController::State::finished; });

    controller.togglePlayPause(url);
    // A null sink's clock stalls for up to two seconds at first; the whole second of audio follows.
    const bool finished = test::eventually(
        [&] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            return finishes > 0;
        },
        std::chrono::seconds(20));
    ASSERT_TRUE(finished) << "progress " << controller.playbackProgress();
    EXPECT_TRUE(sawProgressUnderway);
    EXPECT_GT(loudest, meterFloorDBFS);
    EXPECT_EQ(controller.playbackProgress(), 1.0);
    EXPECT_EQ(controller.timeDisplayText(), QStringLiteral("00:01.00 / 00:01.00"));

    // The end is reported once.
    test::eventually(
        [&] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            return false;
        },
        std::chrono::milliseconds(300));
    EXPECT_EQ(finishes, 1);
}

} // namespace
} // namespace ferrylantern
