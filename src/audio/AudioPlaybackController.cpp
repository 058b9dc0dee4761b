#include "audio/AudioPlaybackController.h"

#include "audio/AudioMeterTimeline.h"
#include "audio/AudioWaveformLoader.h"
#include "audio/QtAudioOutputEngine.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <variant>

namespace ferrylantern {

const QString AudioPlaybackController::noTimeText = QStringLiteral("--:--.--");
const QString AudioPlaybackController::noTimeDisplayText = QStringLiteral("--:--.-- / --:--.--");

// The state of the output graph, owned by the controller but touched only on the audio node queue.
struct AudioNode
{
    // Filled by the meter tap and read at the meter tick; declared before the engine, whose tap writes
    // into it, so that it outlives the engine.
    AudioMeterTimeline meterTimeline;
    std::unique_ptr<AudioOutputEngine> engine;
    bool isMeterTapInstalled = false;
    // Start frame of the segment last scheduled. The player's sample time counts from here across
    // pauses, so the position after a resume is this plus the sample time.
    std::int64_t segmentOriginFrame = 0;
    // The last sample time the meters were shown for: the next tick shows the blocks heard since.
    std::optional<std::int64_t> meteredSampleTime;

    explicit AudioNode(std::unique_ptr<AudioOutputEngine> outputEngine)
        : engine(std::move(outputEngine))
    {}

    void configureGraph(const AudioFileFormat& format)
    {
        engine->pause();
        removeMeterTap();
        engine->connectPlayer(format);
        installMeterTap();
        if (!engine->isRunning()) {
            engine->start(); // a failure leaves the player silent
        }
    }

    void installMeterTap()
    {
        if (isMeterTapInstalled) {
            return;
        }
        engine->installTap([this](const float* interleaved, std::int64_t frames, int channels, std::int64_t first) {
            meterTimeline.add(interleaved, frames, channels, first);
        });
        isMeterTapInstalled = true;
    }

    void removeMeterTap()
    {
        if (isMeterTapInstalled) {
            engine->removeTap();
            isMeterTapInstalled = false;
        }
    }

    void schedule(const AudioSegment& segment, SegmentCompletion completion)
    {
        meterTimeline.clear();
        meteredSampleTime.reset();
        engine->scheduleSegment(segment, std::move(completion));
        segmentOriginFrame = segment.startFrame;
    }

    std::optional<std::int64_t> playerPosition() const
    {
        const auto sampleTime = engine->playerSampleTime();
        if (!sampleTime) {
            return std::nullopt;
        }
        return segmentOriginFrame + *sampleTime;
    }

    // The file's length once decoding has reached the real end of its stream.
    std::optional<std::int64_t> decodedStreamLength() const
    {
        const auto segmentLength = engine->decodedSegmentLength();
        if (!segmentLength) {
            return std::nullopt;
        }
        return segmentOriginFrame + *segmentLength;
    }

    // The loudest of the blocks heard since the previous tick (at least the block being heard now), so
    // that no block between two ticks goes unshown; nothing when the player has not rendered anything.
    std::optional<AudioMeterLevels> heardMeterLevels()
    {
        const auto heard = engine->playerSampleTime();
        if (!heard) {
            return std::nullopt;
        }
        const std::int64_t from = meteredSampleTime && *meteredSampleTime < *heard ? *meteredSampleTime + 1 : *heard;
        meteredSampleTime = heard;
        return meterTimeline.levelsBetween(from, *heard);
    }
};

namespace {

std::filesystem::path localPath(const QUrl& url)
{
    return std::filesystem::path((url.isLocalFile() ? url.toLocalFile() : url.path()).toStdString());
}

double fractionOf(std::int64_t frame, std::int64_t lengthFrames)
{
    if (lengthFrames <= 0) {
        return 0;
    }
    return std::clamp(static_cast<double>(frame) / static_cast<double>(lengthFrames), 0.0, 1.0);
}

} // namespace

// Takes what observers see when an operation begins and, when it ends, announces each property whose
// value differs: once, and after every value is final, so an observer that reads several properties
// never sees them half way.
class AudioPlaybackController::ChangeAnnouncement
{
public:
    explicit ChangeAnnouncement(AudioPlaybackController& controller)
        : controller_(controller)
        , before_(observe(controller))
    {}
    ~ChangeAnnouncement()
    {
        const Observed after = observe(controller_);
        const auto announce = [this](bool changed, void (AudioPlaybackController::*signal)()) {
            if (changed) {
                emit(controller_.*signal)();
            }
        };
        announce(after.state != before_.state, &AudioPlaybackController::stateChanged);
        announce(after.activeURL != before_.activeURL, &AudioPlaybackController::activeURLChanged);
        announce(after.isPlaying != before_.isPlaying, &AudioPlaybackController::isPlayingChanged);
        announce(after.isScrubbing != before_.isScrubbing, &AudioPlaybackController::isScrubbingChanged);
        announce(after.durationSeconds != before_.durationSeconds, &AudioPlaybackController::durationSecondsChanged);
        announce(after.progress != before_.progress, &AudioPlaybackController::playbackProgressChanged);
        announce(after.timeText != before_.timeText, &AudioPlaybackController::timeDisplayTextChanged);
        announce(after.meterLevels != before_.meterLevels, &AudioPlaybackController::meterLevelsChanged);
    }
    Q_DISABLE_COPY_MOVE(ChangeAnnouncement)

private:
    struct Observed
    {
        State state;
        QUrl activeURL;
        bool isPlaying;
        bool isScrubbing;
        double durationSeconds;
        double progress;
        QString timeText;
        AudioMeterLevels meterLevels;
    };

    static Observed observe(const AudioPlaybackController& controller)
    {
        return {controller.state(),           controller.activeURL(),       controller.isPlaying(),
                controller.isScrubbing(),     controller.durationSeconds(), controller.playbackProgress(),
                controller.timeDisplayText(), controller.meterLevels()};
    }

    AudioPlaybackController& controller_;
    const Observed before_;
};

AudioPlaybackController& AudioPlaybackController::shared()
{
    static AudioPlaybackController* instance = [] {
        auto* controller = new AudioPlaybackController(std::make_unique<QtAudioOutputEngine>(),
                                                       std::make_unique<ThreadAudioNodeQueue>());
        // The output device's objects must go while the application object still exists.
        qAddPostRoutine([] { delete &shared(); });
        return controller;
    }();
    return *instance;
}

AudioPlaybackController::AudioPlaybackController(std::unique_ptr<AudioOutputEngine> engine,
                                                 std::unique_ptr<AudioNodeQueue> queue, FileFormatReader readFileFormat,
                                                 QObject* parent)
    : QObject(parent)
    , readFileFormat_(std::move(readFileFormat))
    , node_(new AudioNode(std::move(engine)))
    , queue_(std::move(queue))
{
    progressTimer_.setInterval(progressInterval);
    meterTimer_.setInterval(meterInterval);
    meterTimer_.setTimerType(Qt::PreciseTimer);
    connect(&progressTimer_, &QTimer::timeout, this, &AudioPlaybackController::progressTick);
    connect(&meterTimer_, &QTimer::timeout, this, &AudioPlaybackController::meterTick);
}

AudioPlaybackController::~AudioPlaybackController()
{
    stopTimers();
    // The engine goes on its own thread, after the work queued before it; ending the queue waits for
    // that, so nothing from the queue reaches this object once it is gone.
    queue_->async([node = node_] { delete node; });
    queue_.reset();
}

template <typename Work>
void AudioPlaybackController::onAudioQueue(Work&& work)
{
    queue_->async([node = node_, work = std::forward<Work>(work)] { work(*node); });
}

// Safe from the audio node queue: the destructor drains that queue before this object goes.
template <typename Work>
void AudioPlaybackController::onGuiThread(Work&& work)
{
    QMetaObject::invokeMethod(this, std::forward<Work>(work), Qt::QueuedConnection);
}

QUrl AudioPlaybackController::activeURL() const
{
    return audioFile_ ? audioFile_->url : QUrl();
}

double AudioPlaybackController::durationSeconds() const
{
    return audioFile_ ? static_cast<double>(audioFile_->format.lengthFrames) / audioFile_->format.sampleRate : 0;
}

QString AudioPlaybackController::timeDisplayText() const
{
    const double duration = durationSeconds();
    if (!(duration > 0)) {
        return noTimeDisplayText;
    }
    return formatTime(duration * playbackProgress_) + QStringLiteral(" / ") + formatTime(duration);
}

void AudioPlaybackController::togglePlayPause(const QUrl& url)
{
    const ChangeAnnouncement announcement(*this);
    if (!isActive(url)) {
        activate(url);
    }
    transition(Event::togglePlayPause);
}

void AudioPlaybackController::stop()
{
    const ChangeAnnouncement announcement(*this);
    transition(Event::stop);
}

void AudioPlaybackController::seek(double progress, const QUrl& url)
{
    const ChangeAnnouncement announcement(*this);
    movePosition(progress, url);
}

void AudioPlaybackController::beginScrub(const QUrl& url)
{
    const ChangeAnnouncement announcement(*this);
    if (!isActive(url)) {
        activate(url);
    }
    transition(Event::beginScrub);
}

void AudioPlaybackController::endScrub(double progress, const QUrl& url)
{
    const ChangeAnnouncement announcement(*this);
    movePosition(progress, url);
    transition(Event::endScrub);
}

void AudioPlaybackController::jumpTo(double progress, const QUrl& url)
{
    jump(url, [progress] { return progress; });
}

void AudioPlaybackController::jumpBy(double seconds, const QUrl& url)
{
    jump(url, [this, seconds] {
        const double duration = durationSeconds();
        return duration > 0 ? (duration * playbackProgress_ + seconds) / duration : 0.0;
    });
}

// `target` is read once the file is open, so it can depend on the file's duration and position.
void AudioPlaybackController::jump(const QUrl& url, const std::function<double()>& target)
{
    const ChangeAnnouncement announcement(*this);
    if (!isActive(url)) {
        activate(url);
    }
    if (!audioFile_) {
        return;
    }
    transition(Event::beginScrub);
    movePosition(target(), url);
    transition(Event::endScrub);
}

AudioPlaybackController::State AudioPlaybackController::nextState(State state, Event event)
{
    if (event == Event::stop) {
        return State::idle;
    }
    if (event == Event::opened) {
        return State::ready;
    }
    const bool isSeek = event == Event::seekKeepingStartFrame || event == Event::seekMovingStartFrame;
    switch (state) {
    case State::idle:
        return State::idle; // only opening a file leaves it
    case State::ready:
    case State::finished:
        if (event == Event::togglePlayPause) {
            return State::playing;
        }
        if (event == Event::beginScrub) {
            return State::scrubbingFromPaused;
        }
        return isSeek ? State::ready : state; // a seek leaves the end, even to the finished segment's start
    case State::playing:
        if (event == Event::togglePlayPause) {
            return State::paused;
        }
        if (event == Event::beginScrub) {
            return State::scrubbingFromPlaying;
        }
        if (event == Event::reachedEnd) {
            return State::finished;
        }
        return event == Event::seekMovingStartFrame ? State::ready : state;
    case State::paused:
        if (event == Event::togglePlayPause) {
            return State::playing;
        }
        if (event == Event::beginScrub) {
            return State::scrubbingFromPaused;
        }
        return event == Event::seekMovingStartFrame ? State::ready : state;
    case State::scrubbingFromPlaying:
        if (event == Event::togglePlayPause) {
            return State::scrubbingFromPaused;
        }
        return event == Event::endScrub ? State::playing : state;
    case State::scrubbingFromPaused:
        if (event == Event::togglePlayPause) {
            return State::scrubbingFromPlaying;
        }
        return event == Event::endScrub ? State::ready : state;
    }
    return state;
}

void AudioPlaybackController::transition(Event event)
{
    const State from = state_;
    state_ = nextState(from, event);
    if (state_ != from) {
        enter(state_, from);
    }
}

// Brings the player, the timers and the position to what `state` promises.
void AudioPlaybackController::enter(State state, State from)
{
    if (from == State::playing) {
        stopTimers();
        resetMeters(); // levels are shown only while playing
    }
    switch (state) {
    case State::idle:
        ++scheduleGeneration_;
        audioFile_.reset();
        segmentStartFrame_ = 0;
        playbackProgress_ = 0;
        onAudioQueue([](AudioNode& node) {
            node.engine->pause();
            node.removeMeterTap();
        });
        return;
    case State::ready:
        // A newly opened file's player holds nothing yet; otherwise what it holds belongs to another
        // start frame, or was played to its end.
        if (from != State::idle) {
            ++scheduleGeneration_;
            onAudioQueue([](AudioNode& node) { node.engine->stop(); });
        }
        return;
    case State::playing:
        if (from == State::paused) {
            continuePausedSegment();
        } else if (!scheduleAndPlay(from == State::scrubbingFromPlaying ? Restart::yes : Restart::no)) {
            playbackProgress_ = 1.0; // nothing left to play: the end of the file
            transition(Event::reachedEnd);
            return;
        }
        startTimers();
        return;
    case State::paused:
        pausePlayer();
        return;
    case State::finished:
        return; // the position is where the segment ended (finishSegment), or the end (nothing left)
    case State::scrubbingFromPlaying:
        if (from == State::playing) {
            ++scheduleGeneration_;
            onAudioQueue([](AudioNode& node) { node.engine->pause(); });
        }
        return;
    case State::scrubbingFromPaused:
        return; // nothing plays: the drag moves only the position
    }
}

bool AudioPlaybackController::isActive(const QUrl& url) const
{
    return audioFile_ && audioFile_->url == url;
}

void AudioPlaybackController::activate(const QUrl& url)
{
    transition(Event::stop);
    const std::filesystem::path path = localPath(url);
    const auto opened = [&]() -> std::variant<AudioFileFormat, ActivationError> {
        auto format = readFileFormat_(path);
        if (!format || !(format->sampleRate > 0) || format->lengthFrames <= 0) {
            return ActivationError::unsupportedFormat;
        }
        return *format;
    }();
    if (std::holds_alternative<ActivationError>(opened)) {
        return; // not reported further: the controller stays idle and a following play does nothing
    }
    auto format = std::get<AudioFileFormat>(opened);
    const auto decoded = decodedLengths_.constFind(AudioWaveformLoader::cacheKey(url));
    const bool isLengthDecoded = decoded != decodedLengths_.constEnd();
    if (isLengthDecoded) {
        format.lengthFrames = *decoded;
    }
    audioFile_ = OpenAudioFile{url, path, format, isLengthDecoded};
    onAudioQueue([format](AudioNode& node) { node.configureGraph(format); });
    transition(Event::opened);
}

void AudioPlaybackController::movePosition(double progress, const QUrl& url)
{
    const double clamped = std::isnan(progress) ? 0.0 : std::clamp(progress, 0.0, 1.0);
    if (!isActive(url)) {
        activate(url);
    }
    if (!audioFile_) {
        return; // nothing could be opened, so there is no position to move
    }
    const std::int64_t frame = frameForProgress(clamped, audioFile_->format.lengthFrames);
    const bool movesStartFrame = frame != segmentStartFrame_;
    if (movesStartFrame) {
        segmentStartFrame_ = frame;
        ++scheduleGeneration_; // a position the player reports for the old frame would undo this one
    }
    playbackProgress_ = clamped;
    transition(movesStartFrame ? Event::seekMovingStartFrame : Event::seekKeepingStartFrame);
}

bool AudioPlaybackController::scheduleAndPlay(Restart restart)
{
    const std::int64_t start = segmentStartFrame_;
    if (start >= audioFile_->format.lengthFrames) {
        return false; // nothing left, as far as the length is known
    }
    const AudioSegment segment{audioFile_->path, start};
    scheduledOriginFrame_ = start;
    onAudioQueue([restart, segment, completion = completionFor(++scheduleGeneration_, start)](AudioNode& node) {
        if (restart == Restart::yes) {
            node.engine->stop();
        } else {
            node.engine->pause();
        }
        node.schedule(segment, completion);
        node.installMeterTap();
        if (!node.engine->isRunning()) {
            node.engine->start();
        }
        if (!node.engine->isPlaying()) {
            node.engine->play();
        }
    });
    return true;
}

// The paused segment continues. Its completion was made stale by the pause; it gets one for the current
// generation, so the end of the file after a resume still finishes playback (once).
void AudioPlaybackController::continuePausedSegment()
{
    onAudioQueue([completion = completionFor(scheduleGeneration_, scheduledOriginFrame_)](AudioNode& node) {
        node.engine->replaceCompletion(completion);
        if (!node.engine->isRunning()) {
            node.engine->start();
        }
        if (!node.engine->isPlaying()) {
            node.engine->play();
        }
    });
}

SegmentCompletion AudioPlaybackController::completionFor(std::uint64_t generation, std::int64_t originFrame)
{
    return [this, generation, originFrame](SegmentEnd end) {
        onGuiThread([this, generation, originFrame, end] {
            if (scheduleGeneration_ == generation) {
                const ChangeAnnouncement announcement(*this);
                finishSegment(originFrame, end);
            }
        });
    };
}

// At the end of the stream the file's length is known for certain; a stream cut short leaves the playhead
// where the sound stopped, and the length as it was.
void AudioPlaybackController::finishSegment(std::int64_t originFrame, SegmentEnd end)
{
    const std::int64_t endFrame = originFrame + end.framesPlayed;
    if (end.kind == SegmentEnd::Kind::endOfStream) {
        adoptDecodedLength(endFrame);
        playbackProgress_ = 1.0;
    } else {
        playbackProgress_ = fractionOf(endFrame, audioFile_->format.lengthFrames);
    }
    transition(Event::reachedEnd);
}

void AudioPlaybackController::adoptDecodedLength(std::int64_t lengthFrames)
{
    if (lengthFrames <= 0) {
        return; // nothing decoded from a start beyond the real end: the length is no better known
    }
    audioFile_->format.lengthFrames = lengthFrames;
    audioFile_->isLengthDecoded = true;
    decodedLengths_.insert(AudioWaveformLoader::cacheKey(audioFile_->url), lengthFrames);
}

// The position the player reports and, once decoding has reached the end of the stream, the length it
// found. Until then a stated length the position has passed is evidently short, and grows with it.
void AudioPlaybackController::publishPosition(std::int64_t frame, std::optional<std::int64_t> streamLength)
{
    if (streamLength) {
        adoptDecodedLength(*streamLength);
    } else if (!audioFile_->isLengthDecoded && frame > audioFile_->format.lengthFrames) {
        audioFile_->format.lengthFrames = frame;
    }
    playbackProgress_ = fractionOf(frame, audioFile_->format.lengthFrames);
}

// Pauses the player and makes where it stopped the start frame, from which play continues.
void AudioPlaybackController::pausePlayer()
{
    const std::uint64_t generation = ++scheduleGeneration_;
    onAudioQueue([this, generation](AudioNode& node) {
        if (const auto position = node.playerPosition()) {
            onGuiThread([this, generation, frame = *position, length = node.decodedStreamLength()] {
                // Dropped when a seek, stop or new schedule came after the pause.
                if (scheduleGeneration_ != generation) {
                    return;
                }
                const ChangeAnnouncement announcement(*this);
                publishPosition(frame, length);
                segmentStartFrame_ = std::min(frame, audioFile_->format.lengthFrames);
            });
        }
        node.engine->pause();
    });
}

void AudioPlaybackController::startTimers()
{
    stopTimers();
    meterTimer_.start();
    progressTimer_.start();
}

void AudioPlaybackController::stopTimers()
{
    meterTimer_.stop();
    progressTimer_.stop();
}

void AudioPlaybackController::meterTick()
{
    if (!isPlaying()) {
        return;
    }
    const std::uint64_t generation = scheduleGeneration_;
    onAudioQueue([this, generation](AudioNode& node) {
        const auto levels = node.heardMeterLevels();
        if (!levels) {
            return; // nothing rendered (no output device, or the player is stopped)
        }
        onGuiThread([this, generation, levels = *levels] {
            // Only the levels can change here, and at the meters' rate: announced directly.
            if (isPlaying() && scheduleGeneration_ == generation && meterLevels_ != levels) {
                meterLevels_ = levels;
                emit meterLevelsChanged();
            }
        });
    });
}

void AudioPlaybackController::progressTick()
{
    if (!isPlaying()) {
        return;
    }
    const std::uint64_t generation = scheduleGeneration_;
    onAudioQueue([this, generation](AudioNode& node) {
        const auto position = node.playerPosition();
        if (!position) {
            return; // nothing rendered (no output device, or the player is stopped)
        }
        onGuiThread([this, generation, frame = *position, length = node.decodedStreamLength()] {
            if (isPlaying() && scheduleGeneration_ == generation) {
                const ChangeAnnouncement announcement(*this);
                publishPosition(frame, length);
            }
        });
    });
}

void AudioPlaybackController::resetMeters()
{
    meterLevels_ = AudioMeterLevels{};
}

QString AudioPlaybackController::formatTime(double seconds)
{
    // Beyond 2^62 s the whole seconds no longer fit a 64-bit integer; no real file gets there.
    constexpr double largestSeconds = 4611686018427387904.0;
    if (!std::isfinite(seconds) || seconds < 0 || seconds >= largestSeconds) {
        return noTimeText;
    }
    constexpr std::int64_t secondsPerMinute = 60;
    constexpr double hundredthsPerSecond = 100;
    const double whole = std::floor(seconds);
    const auto wholeSeconds = static_cast<std::int64_t>(whole);
    const auto hundredths = static_cast<std::int64_t>(std::floor((seconds - whole) * hundredthsPerSecond)) % 100;
    const QChar zero(u'0');
    return QStringLiteral("%1:%2.%3")
        .arg(wholeSeconds / secondsPerMinute, 2, 10, zero)
        .arg(wholeSeconds % secondsPerMinute, 2, 10, zero)
        .arg(hundredths, 2, 10, zero);
}

std::int64_t AudioPlaybackController::frameForProgress(double progress, std::int64_t lengthFrames)
{
    return static_cast<std::int64_t>(std::floor(static_cast<double>(lengthFrames) * progress));
}

} // namespace ferrylantern
