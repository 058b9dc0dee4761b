// The controller on the real output engine where no sound server answers: playback stays silent,
// publishes no progress, and nothing crashes. This program is the only one that runs the test, so it can
// point the sound client at a socket that does not exist before anything opens a connection.
#include "audio/AudioPlaybackController.h"
#include "audio/QtAudioOutputEngine.h"
#include "tests/audio/AudioTestFiles.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QMediaDevices>

#include <gtest/gtest.h>

#include <atomic>

namespace ferrylantern {
namespace {

TEST(QtAudioOutputEngineWithoutSoundServer, StaysSilentAndPublishesNoProgress)
{
    qputenv("PULSE_SERVER", "unix:/nonexistent/ferrylantern-no-sound-server");
    ASSERT_TRUE(QMediaDevices::audioOutputs().isEmpty())
        << "a sound server answered; PULSE_SERVER should point nowhere";
    test::TemporaryFolder folder;
    const auto path = folder.path() / "tone.wav";
    test::writeWav(path, 44100, 2, test::sineFrames(22050, 44100, {0.5, 0.5}));
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(path.string()));
    auto ownedQueue = std::make_unique<ThreadAudioNodeQueue>();
    auto* queue = ownedQueue.get();
    AudioPlaybackController controller(std::make_unique<QtAudioOutputEngine>(), std::move(ownedQueue));
    int progressChanges = 0;
    int meterChanges = 0;
    QObject::connect(&controller, &AudioPlaybackController::playbackProgressChanged, [&] { ++progressChanges; });
    QObject::connect(&controller, &AudioPlaybackController::meterLevelsChanged, [&] { ++meterChanges; });
    // Runs the engine work given so far and delivers its answers, twice over for answers that give more work.
    const auto settle = [&] {
        for (int round = 0; round < 2; ++round) {
            std::atomic<bool> drained = false;
            queue->async([&] { drained = true; });
            ASSERT_TRUE(test::eventually([&] {
                QCoreApplication::processEvents();
                return drained.load();
            }));
            QCoreApplication::processEvents();
        }
    };

    controller.togglePlayPause(url);
    settle();
    controller.progressTick();
    controller.meterTick();
    settle();
    EXPECT_EQ(progressChanges, 0);
    EXPECT_EQ(meterChanges, 0);
    EXPECT_EQ(controller.activeURL(), url);

    // Everything else the views do still works.
    controller.togglePlayPause(url);
    controller.beginScrub(url);
    controller.endScrub(0.5, url);
    controller.togglePlayPause(url);
    settle();
    EXPECT_EQ(controller.playbackProgress(), 0.5);
    controller.stop();
    settle();
    EXPECT_TRUE(controller.activeURL().isEmpty());
}

} // namespace
} // namespace ferrylantern
