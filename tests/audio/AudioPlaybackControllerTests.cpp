#include "audio/AudioPlaybackController.h"
#include "tests/audio/AudioTestFiles.h"
#include "tests/audio/ManualAudioOutput.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QMetaEnum>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace ferrylantern {

// Failures name the state.
void PrintTo(AudioPlaybackController::State state, std::ostream* out)
{
    *out << QMetaEnum::fromType<AudioPlaybackController::State>().valueToKey(static_cast<int>(state));
}

namespace {

using test::ManualAudioNodeQueue;
using test::ManualAudioOutputEngine;
using State = AudioPlaybackController::State;

constexpr std::int64_t firstLength = 480000; // 10 s at 48 kHz
const QUrl first = QUrl::fromLocalFile(QStringLiteral("/music/first.wav"));
const QUrl second = QUrl::fromLocalFile(QStringLiteral("/music/second.wav"));
const QUrl broken = QUrl::fromLocalFile(QStringLiteral("/music/broken.wav"));

class PlaybackControllerTest : public testing::Test
{
protected:
    PlaybackControllerTest()
    {
        auto ownedEngine = std::make_unique<ManualAudioOutputEngine>();
        auto ownedQueue = std::make_unique<ManualAudioNodeQueue>();
        engine = ownedEngine.get();
        queue = ownedQueue.get();
        addFile(first, {48000, 2, firstLength});
        addFile(second, {44100, 1, 441000});
        controller = std::make_unique<AudioPlaybackController>(
            std::move(ownedEngine), std::move(ownedQueue),
            [this](const std::filesystem::path& path) -> std::optional<AudioFileFormat> {
                const auto found = formats.find(path.string());
                return found == formats.end() ? std::nullopt : std::optional(found->second);
            });
    }

    // A file whose container states `format`; decoding finds just that length.
    void addFile(const QUrl& url, AudioFileFormat format)
    {
        formats[url.toLocalFile().toStdString()] = format;
        engine->setStream(url.toLocalFile().toStdString(), {format.lengthFrames});
    }

    // Runs the queued engine work and delivers what comes back, until nothing is left.
    void settle()
    {
        do {
            queue->runAll();
            QCoreApplication::sendPostedEvents();
        } while (!queue->isEmpty());
    }

    // Presses play/pause for `url` and lets the engine's answers arrive.
    void press(const QUrl& url)
    {
        controller->togglePlayPause(url);
        settle();
    }

    // Plays `frames` more frames (if the player plays), then publishes the position.
    void playFrames(std::int64_t frames)
    {
        engine->advance(frames);
        settle();
        controller->progressTick();
        settle();
    }

    std::map<std::string, AudioFileFormat> formats;
    ManualAudioOutputEngine* engine = nullptr;
    ManualAudioNodeQueue* queue = nullptr;
    std::unique_ptr<AudioPlaybackController> controller;
};

TEST_F(PlaybackControllerTest, MovesThroughTheStatesOfItsTable)
{
    struct Step
    {
        const char* action;
        std::function<void()> run;
        State state;
        std::optional<std::int64_t> startFrame = {}; // where the current segment starts, when it matters
    };
    const auto toggle = [&](const QUrl& url) { return [&, url] { controller->togglePlayPause(url); }; };
    const auto seek = [&](double progress) { return [&, progress] { controller->seek(progress, first); }; };
    const auto jumpBy = [&](double seconds) { return [&, seconds] { controller->jumpBy(seconds, first); }; };
    const auto playASecond = [&] { playFrames(48000); };
    const QUrl noRate = QUrl::fromLocalFile(QStringLiteral("/music/no-rate.wav"));
    const QUrl noFrames = QUrl::fromLocalFile(QStringLiteral("/music/no-frames.wav"));
    addFile(noRate, {0, 2, 1000});
    addFile(noFrames, {44100, 2, 0});
    const Step steps[] = {
        {"nothing yet", [] {}, State::idle},
        {"a drop without a drag is a seek", [&] { controller->endScrub(0.5, first); }, State::ready},
        {"toggle", toggle(first), State::playing},
        {"toggle the playing file", toggle(first), State::paused},
        {"toggle the paused file", toggle(first), State::playing},
        {"begin a drag", [&] { controller->beginScrub(first); }, State::scrubbingFromPlaying},
        {"toggle during the drag", toggle(first), State::scrubbingFromPaused},
        {"drop", [&] { controller->endScrub(0.25, first); }, State::ready},
        {"a drag while not playing", [&] { controller->beginScrub(first); }, State::scrubbingFromPaused},
        {"toggle during the drag", toggle(first), State::scrubbingFromPlaying},
        {"drop", [&] { controller->endScrub(0.25, first); }, State::playing, 120000},
        {"seek to the frame playing started from", seek(0.25), State::playing},
        {"pause", toggle(first), State::paused},
        {"seek elsewhere", seek(0.5), State::ready},
        {"toggle", toggle(first), State::playing},
        {"seek elsewhere while playing stops", seek(0.75), State::ready},
        {"toggle", toggle(first), State::playing},
        {"play to the end", [&] { engine->advance(firstLength); }, State::finished},
        {"seek to the finished segment's start", seek(0.75), State::ready},
        {"toggle", toggle(first), State::playing},
        {"begin a drag", [&] { controller->beginScrub(first); }, State::scrubbingFromPlaying},
        {"stop during the drag", [&] { controller->stop(); }, State::idle},
        {"seek an idle file to its end", [&] { controller->seek(1.0, second); }, State::ready},
        {"play with nothing left", toggle(second), State::finished},
        {"toggle an unreadable file", toggle(broken), State::idle},
        {"toggle", toggle(first), State::playing},
        {"toggle a file without a sample rate", toggle(noRate), State::idle},
        {"toggle", toggle(first), State::playing},
        {"toggle a file without frames", toggle(noFrames), State::idle},
        {"five seconds into a file not playing", jumpBy(5), State::ready, 240000},
        {"toggle", toggle(first), State::playing, 240000},
        {"play a second", playASecond, State::playing},
        {"three seconds on while playing", jumpBy(3), State::playing, 432000},
        {"pause", toggle(first), State::paused, 432000},
        {"ten seconds back while paused, stopping at the start", jumpBy(-10), State::ready, 0},
        {"toggle", toggle(first), State::playing, 0},
        {"play a second", playASecond, State::playing},
        {"to the start while playing", [&] { controller->jumpTo(0, first); }, State::playing, 0},
        {"to the end", [&] { controller->jumpTo(1, first); }, State::finished, firstLength},
    };
    QSignalSpy stateChanges(controller.get(), &AudioPlaybackController::stateChanged);
    State previous = controller->state();
    for (const Step& step : steps) {
        SCOPED_TRACE(step.action);
        step.run();
        settle();
        EXPECT_EQ(controller->state(), step.state);
        EXPECT_EQ(controller->areTimersRunning(), step.state == State::playing);
        if (step.state != State::finished) { // at the end of its segment the player may still run
            EXPECT_EQ(engine->isPlaying(), step.state == State::playing);
        }
        if (step.startFrame) {
            EXPECT_EQ(controller->segmentStartFrame(), *step.startFrame);
        }
        // Announced once per step; a state passed through within it ("play with nothing left") is not.
        EXPECT_EQ(stateChanges.count(), step.state == previous ? 0 : 1);
        stateChanges.clear();
        previous = step.state;
    }
    for (const AudioSegment& segment : engine->scheduledSegments()) {
        EXPECT_NE(segment.file, second.toLocalFile().toStdString()); // it had no frames left to play
    }
}

TEST_F(PlaybackControllerTest, ResumeContinuesFromThePausedFrameAndTheEndFinishesOnce)
{
    QSignalSpy playingChanges(controller.get(), &AudioPlaybackController::isPlayingChanged);
    press(first);
    playFrames(120000);
    EXPECT_EQ(controller->playbackProgress(), 0.25);

    press(first); // pause
    EXPECT_EQ(controller->segmentStartFrame(), 120000);
    EXPECT_EQ(controller->playbackProgress(), 0.25);
    EXPECT_EQ(controller->timeDisplayText(), QStringLiteral("00:02.50 / 00:10.00"));

    press(first); // resume: the same segment, not a new one
    EXPECT_EQ(engine->scheduledSegments().size(), 1u);
    playFrames(48000);
    EXPECT_DOUBLE_EQ(controller->playbackProgress(), 168000.0 / firstLength);

    playFrames(firstLength);
    EXPECT_EQ(controller->state(), State::finished);
    EXPECT_EQ(controller->timeDisplayText(), QStringLiteral("00:10.00 / 00:10.00"));
    EXPECT_FALSE(controller->areTimersRunning());
    // on, off, on, off (the end)
    EXPECT_EQ(playingChanges.count(), 4);
}

TEST_F(PlaybackControllerTest, ACompletionOfASupersededSegmentChangesNothing)
{
    struct Row
    {
        const char* supersededBy;
        std::function<void()> run;
        State state;
        QUrl active;
    };
    const Row rows[] = {
        {"a pause", [&] { controller->togglePlayPause(first); }, State::paused, first},
        {"a seek", [&] { controller->seek(0.5, first); }, State::ready, first},
        {"a stop", [&] { controller->stop(); }, State::idle, QUrl()},
        {"another file's schedule", [&] { controller->togglePlayPause(second); }, State::playing, second},
        {"a drag", [&] { controller->beginScrub(first); }, State::scrubbingFromPlaying, first},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.supersededBy);
        controller->stop();
        press(first);
        // The segment ends; its completion is on its way to the GUI thread when the user acts.
        engine->advance(firstLength);
        row.run();
        settle();
        EXPECT_EQ(controller->state(), row.state);
        EXPECT_EQ(controller->activeURL(), row.active);
        EXPECT_EQ(engine->scheduledSegments().back().startFrame, 0); // another file plays from its start
    }
}

// Interleaved stereo frames at one level in both channels.
std::vector<float> frames(std::int64_t count, float level)
{
    return std::vector<float>(static_cast<std::size_t>(count * 2), level);
}

TEST_F(PlaybackControllerTest, MetersShowTheBlocksBeingHeardNotThoseHandedToTheOutput)
{
    press(first);
    const auto meterAfter = [&](std::int64_t heardFrames) {
        playFrames(heardFrames);
        controller->meterTick();
        settle();
        return controller->meterLevels();
    };
    // The output takes silence, a loud block of 256 frames (frames 4864 to 5119), silence and a click, far
    // ahead of the ear.
    engine->render(frames(4864, 0), 2);
    engine->render(frames(256, 0.5f), 2);
    engine->render(frames(4864, 0), 2);
    engine->render({0.0f, 0.0f, -1.0f, 0.25f}, 2);
    engine->render(frames(1000, 0), 2);
    EXPECT_EQ(meterAfter(0), AudioMeterLevels{});
    EXPECT_EQ(meterAfter(4700), AudioMeterLevels{}) << "the loud block is handed over but not yet heard";
    EXPECT_NEAR(meterAfter(300).leftPeakDBFS, -6.02f, 0.01f);
    EXPECT_NEAR(meterAfter(200).leftPeakDBFS, -6.02f, 0.01f) << "the rest of the block is heard";
    EXPECT_EQ(meterAfter(1000), AudioMeterLevels{}) << "after it, silence again";
    // A click between two ticks still shows at the next one.
    const AudioMeterLevels click = meterAfter(4000);
    EXPECT_EQ(click.leftPeakDBFS, 0.0f);
    EXPECT_NEAR(click.rightPeakDBFS, -12.04f, 0.01f);

    press(first); // pause: the meters fall silent and ticks change nothing
    EXPECT_EQ(controller->meterLevels(), AudioMeterLevels{});
    controller->meterTick();
    settle();
    EXPECT_EQ(controller->meterLevels(), AudioMeterLevels{});
}

TEST(PlaybackControllerFormatTime, PrintsMinutesSecondsAndTruncatedHundredths)
{
    const std::pair<double, const char*> rows[] = {
        {65.5, "01:05.50"},     {185.25, "03:05.25"}, {4500, "75:00.00"},
        {6000, "100:00.00"},    {0, "00:00.00"},      {59.999, "00:59.99"},
        {0.294, "00:00.29"},    {-1, "--:--.--"},     {std::nan(""), "--:--.--"},
        {INFINITY, "--:--.--"}, {1e300, "--:--.--"},
    };
    for (const auto& [seconds, text] : rows) {
        SCOPED_TRACE(seconds);
        EXPECT_EQ(AudioPlaybackController::formatTime(seconds), QString::fromUtf8(text));
    }
}

} // namespace
} // namespace ferrylantern
