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

    // A file whose container states `format`; decoding finds `stream` (by default, just that length).
    void addFile(const QUrl& url, AudioFileFormat format, std::optional<ManualAudioOutputEngine::Stream> stream = {})
    {
        formats[url.toLocalFile().toStdString()] = format;
        engine->setStream(url.toLocalFile().toStdString(),
                          stream.value_or(ManualAudioOutputEngine::Stream{format.lengthFrames}));
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
    };
    const auto toggle = [&](const QUrl& url) { return [&, url] { controller->togglePlayPause(url); }; };
    const auto seek = [&](double progress) { return [&, progress] { controller->seek(progress, first); }; };
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
        {"drop", [&] { controller->endScrub(0.25, first); }, State::playing},
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
    };
    QSignalSpy stateChanges(controller.get(), &AudioPlaybackController::stateChanged);
    State previous = controller->state();
    for (const Step& step : steps) {
        SCOPED_TRACE(step.action);
        step.run();
        settle();
        EXPECT_EQ(controller->state(), step.state);
        // Announced once per step; a state passed through within it ("play with nothing left") is not.
        EXPECT_EQ(stateChanges.count(), step.state == previous ? 0 : 1);
        stateChanges.clear();
        previous = step.state;
    }
    for (const AudioSegment& segment : engine->scheduledSegments()) {
        EXPECT_NE(segment.file, second.toLocalFile().toStdString()); // it had no frames left to play
    }
    EXPECT_FALSE(engine->isPlaying()); // the file that played before an unplayable one falls silent
    EXPECT_EQ(controller->timeDisplayText(), QStringLiteral("--:--.-- / --:--.--"));
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

    press(first); // a second pause and resume
    EXPECT_EQ(controller->segmentStartFrame(), 168000);
    press(first);
    playFrames(100000);
    EXPECT_DOUBLE_EQ(controller->playbackProgress(), 268000.0 / firstLength);

    playFrames(firstLength);
    EXPECT_EQ(controller->state(), State::finished);
    EXPECT_EQ(controller->timeDisplayText(), QStringLiteral("00:10.00 / 00:10.00"));
    EXPECT_FALSE(controller->areTimersRunning());
    // on, off, on, off, on, off (the end)
    EXPECT_EQ(playingChanges.count(), 6);
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

TEST_F(PlaybackControllerTest, ADragWhilePlayingPausesAndResumesAtTheDropPosition)
{
    press(first);
    playFrames(48000);

    controller->beginScrub(first);
    settle();
    EXPECT_EQ(controller->state(), State::scrubbingFromPlaying);
    EXPECT_FALSE(engine->isPlaying());
    EXPECT_FALSE(controller->areTimersRunning());
    controller->seek(0.3, first);
    QSignalSpy progressChanges(controller.get(), &AudioPlaybackController::playbackProgressChanged);
    playFrames(48000); // the player is paused; nothing is published while dragging
    EXPECT_EQ(progressChanges.count(), 0);

    controller->endScrub(0.5, first);
    settle();
    EXPECT_EQ(controller->state(), State::playing);
    EXPECT_EQ(engine->scheduledSegments().back().startFrame, 240000);
    playFrames(4800);
    EXPECT_DOUBLE_EQ(controller->playbackProgress(), 244800.0 / firstLength);
}

TEST_F(PlaybackControllerTest, APauseAnsweredAfterASeekKeepsTheSeek)
{
    press(first);
    playFrames(48000);
    controller->togglePlayPause(first); // the player's position is still on its way back
    controller->seek(0.5, first);
    settle();
    EXPECT_EQ(controller->segmentStartFrame(), 240000);
    EXPECT_EQ(controller->playbackProgress(), 0.5);
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

TEST_F(PlaybackControllerTest, TheLengthFollowsWhatDecodingFinds)
{
    struct Row
    {
        const char* name;
        QUrl url;
        std::int64_t realLength;
        const char* endText;
    };
    const Row rows[] = {
        {"the stream is longer than its estimate", QUrl::fromLocalFile(QStringLiteral("/music/longer.mp3")), 528000,
         "00:11.00 / 00:11.00"},
        {"the stream is shorter than its estimate", QUrl::fromLocalFile(QStringLiteral("/music/shorter.mp3")), 408000,
         "00:08.50 / 00:08.50"},
    };
    constexpr std::int64_t decodeAhead = 24000;
    engine->setDecodeAhead(decodeAhead);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        addFile(row.url, {48000, 2, firstLength}, ManualAudioOutputEngine::Stream{row.realLength});
        controller->togglePlayPause(row.url);
        settle();
        EXPECT_EQ(controller->durationSeconds(), 10.0);
        playFrames(row.realLength - decodeAhead - 1);
        EXPECT_NE(controller->durationSeconds(), static_cast<double>(row.realLength) / 48000) << "not known yet";
        playFrames(1); // the decoder reaches the end of the stream, half a second before the ear
        EXPECT_EQ(controller->durationSeconds(), static_cast<double>(row.realLength) / 48000);
        EXPECT_LT(controller->playbackProgress(), 1.0);
        playFrames(decodeAhead);
        EXPECT_EQ(controller->state(), State::finished);
        EXPECT_EQ(controller->playbackProgress(), 1.0);
        EXPECT_EQ(controller->timeDisplayText(), QString::fromUtf8(row.endText));

        // The seek range is the decoded length, also after the file is opened again.
        controller->stop();
        controller->seek(0.5, row.url);
        EXPECT_EQ(controller->segmentStartFrame(), row.realLength / 2);
        controller->stop();
    }
}

TEST_F(PlaybackControllerTest, AStatedLengthThePlayerPassesGrowsWithThePosition)
{
    const QUrl longer = QUrl::fromLocalFile(QStringLiteral("/music/no-length-until-the-end.mp3"));
    addFile(longer, {48000, 2, firstLength}, ManualAudioOutputEngine::Stream{firstLength + 48000});
    press(longer);
    playFrames(firstLength + 24000);
    EXPECT_EQ(controller->state(), State::playing);
    EXPECT_EQ(controller->durationSeconds(), 10.5);
    EXPECT_EQ(controller->timeDisplayText(), QStringLiteral("00:10.50 / 00:10.50"));
    playFrames(24000);
    EXPECT_EQ(controller->state(), State::finished);
    EXPECT_EQ(controller->durationSeconds(), 11.0);
}

TEST_F(PlaybackControllerTest, AStreamCutShortStopsWhereItBrokeOff)
{
    const QUrl damaged = QUrl::fromLocalFile(QStringLiteral("/music/damaged.mp3"));
    addFile(damaged, {48000, 2, firstLength}, ManualAudioOutputEngine::Stream{120000, SegmentEnd::Kind::cutShort});
    engine->setDecodeAhead(firstLength); // a stream cut short never reports a length
    press(damaged);
    playFrames(firstLength);
    EXPECT_EQ(controller->state(), State::finished);
    EXPECT_EQ(controller->playbackProgress(), 0.25);
    EXPECT_EQ(controller->durationSeconds(), 10.0);
    EXPECT_EQ(controller->timeDisplayText(), QStringLiteral("00:02.50 / 00:10.00"));

    press(damaged); // play again: from where the segment started
    EXPECT_EQ(controller->state(), State::playing);
    EXPECT_EQ(engine->scheduledSegments().back().startFrame, 0);
}

TEST_F(PlaybackControllerTest, JumpsMoveThePositionAndKeepPlaybackAsItWas)
{
    struct Row
    {
        const char* name;
        std::function<void()> prepare;
        std::function<void()> jump;
        State state;
        std::int64_t startFrame;
    };
    const auto playFromTwoSeconds = [&] {
        press(first);
        playFrames(96000);
    };
    const Row rows[] = {
        {"five seconds on while playing", playFromTwoSeconds, [&] { controller->jumpBy(5, first); }, State::playing,
         336000},
        {"five seconds back, stopping at the start", playFromTwoSeconds, [&] { controller->jumpBy(-5, first); },
         State::playing, 0},
        {"to the start", playFromTwoSeconds, [&] { controller->jumpTo(0, first); }, State::playing, 0},
        {"to the end", playFromTwoSeconds, [&] { controller->jumpTo(1, first); }, State::finished, firstLength},
        {"while paused",
         [&] {
             playFromTwoSeconds();
             press(first);
         },
         [&] { controller->jumpBy(5, first); }, State::ready, 336000},
        {"an inactive file opens at five seconds", [] {}, [&] { controller->jumpBy(5, first); }, State::ready, 240000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        controller->stop();
        settle();
        row.prepare();
        row.jump();
        settle();
        EXPECT_EQ(controller->state(), row.state);
        EXPECT_EQ(controller->segmentStartFrame(), row.startFrame);
        EXPECT_FALSE(controller->isScrubbing());
    }
}

TEST_F(PlaybackControllerTest, CountsFramesBeyond32BitsWithoutWrapping)
{
    const QUrl longFile = QUrl::fromLocalFile(QStringLiteral("/music/very-long.wav"));
    constexpr std::int64_t length = (std::int64_t{3} << 32) + 1000;
    addFile(longFile, {48000, 2, length});

    controller->seek(0.5, longFile);
    press(longFile);
    EXPECT_EQ(engine->scheduledSegments().back().startFrame, length / 2);
    playFrames((std::int64_t{1} << 32) + 7);
    EXPECT_DOUBLE_EQ(controller->playbackProgress(),
                     static_cast<double>(length / 2 + (std::int64_t{1} << 32) + 7) / static_cast<double>(length));
    press(longFile);
    EXPECT_EQ(controller->segmentStartFrame(), length / 2 + (std::int64_t{1} << 32) + 7);
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
