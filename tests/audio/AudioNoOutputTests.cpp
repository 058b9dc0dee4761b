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

namespace ferrylantern {
namespace {

void pumpFor(std::chrono::milliseconds duration)
{
    test::eventually(
        [] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            return false;
        },
        duration);
}

TEST(QtAudioOutputEngineWithoutSoundServer, StaysSilentAndPublishesNoProgress)
{
    qputenv("PULSE_SERVER", "unix:/nonexistent/ferrylantern-no-sound-server");
    ASSERT_TRUE(QMediaDevices::audioOutputs().isEmpty())
        << "a sound server answered; PULSE_SERVER should point nowhere";
    test::TemporaryFolder folder;
    const auto path = folder.path() / "tone.wav";
    test::writeWav(path, 44100, 2, test::sineFrames(22050, 44100, {0.5, 0.5}));
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(path.string()));
    AudioPlaybackController controller(std::make_unique<QtAudioOutputEngine>(),
                                       std::make_unique<ThreadAudioNodeQueue>());
    int progressChanges = 0;
    int meterChanges = 0;
    QObject::connect(&controller, &AudioPlaybackController::playbackProgressChanged, [&] { ++progressChanges; });
    QObject::connect(&controller, &AudioPlaybackController::meterLevelsChanged, [&] { ++meterChanges; });

    controller.togglePlayPause(url);
    pumpFor(std::chrono::milliseconds(1000)); // twice the file's length
    EXPECT_EQ(progressChanges, 0);
    EXPECT_EQ(meterChanges, 0);
    EXPECT_EQ(controller.activeURL(), url);

    // Everything else the views do still works.
    controller.togglePlayPause(url);
    controller.beginScrub(url);
    controller.endScrub(0.5, url);
    controller.togglePlayPause(url);
    pumpFor(std::chrono::milliseconds(200));
    EXPECT_EQ(controller.playbackProgress(), 0.5);
    controller.stop();
    pumpFor(std::chrono::milliseconds(50));
    EXPECT_TRUE(controller.activeURL().isEmpty());
}

} // namespace
} // namespace ferrylantern
