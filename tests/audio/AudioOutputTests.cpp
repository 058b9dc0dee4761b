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
#include <cstdio>
#include <optional>

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

TEST(QtAudioOutputEngine, LightsTheMeterWhenThePlayheadReachesTheSoundNotBefore)
{
    if (QMediaDevices::audioOutputs().isEmpty()) {
        GTEST_SKIP() << "no sound server reachable (run the tests through scripts/with-pulseaudio.sh, as "
                        "scripts/test.sh does)";
    }
    // Three seconds of silence, then a tone: the output takes the tone long before it is heard.
    constexpr int rate = 48000;
    constexpr double toneStartSeconds = 3.0;
    constexpr float visibleDBFS = -60.0f; // the meter views show nothing below this
    test::TemporaryFolder folder;
    const auto path = folder.path() / "late-tone.wav";
    auto samples = std::vector<std::int16_t>(static_cast<std::size_t>(toneStartSeconds * rate * 2), 0);
    const auto tone = test::sineFrames(rate / 2, rate, {0.5, 0.5});
    samples.insert(samples.end(), tone.begin(), tone.end());
    test::writeWav(path, rate, 2, samples);
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(path.string()));
    AudioPlaybackController controller(std::make_unique<QtAudioOutputEngine>(),
                                       std::make_unique<ThreadAudioNodeQueue>());

    using Clock = std::chrono::steady_clock;
    struct Sample
    {
        Clock::time_point at;
        double seconds; // the playhead's position
    };
    std::vector<Sample> playhead;
    std::optional<Clock::time_point> meterLit;
    QObject::connect(&controller, &AudioPlaybackController::playbackProgressChanged, [&] {
        playhead.push_back({Clock::now(), controller.playbackProgress() * controller.durationSeconds()});
    });
    QObject::connect(&controller, &AudioPlaybackController::meterLevelsChanged, [&] {
        if (!meterLit && controller.meterLevels().leftPeakDBFS > visibleDBFS) {
            meterLit = Clock::now();
        }
    });

    controller.togglePlayPause(url);
    const auto passedTheTone = [&] { return !playhead.empty() && playhead.back().seconds > toneStartSeconds; };
    ASSERT_TRUE(runUntil(
        controller, [&] { return meterLit && passedTheTone(); }, std::chrono::seconds(20)))
        << "position " << (playhead.empty() ? -1 : playhead.back().seconds);

    // When the playhead reached the tone, from the two positions it was published at either side of it.
    const auto after = std::find_if(playhead.begin(), playhead.end(),
                                    [&](const Sample& sample) { return sample.seconds >= toneStartSeconds; });
    ASSERT_NE(after, playhead.begin());
    const Sample& before = *std::prev(after);
    const double share = (toneStartSeconds - before.seconds) / (after->seconds - before.seconds);
    const auto reached = before.at + std::chrono::duration_cast<Clock::duration>((after->at - before.at) * share);
    const auto offset = std::chrono::duration<double, std::milli>(*meterLit - reached).count();
    std::printf("[ FIGURE   ] meter lit %+.1f ms from the playhead reaching the tone\n", offset);
    EXPECT_LE(std::abs(offset), 30.0);
}

} // namespace
} // namespace ferrylantern
