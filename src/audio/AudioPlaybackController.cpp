#include "audio/AudioPlaybackController.h"

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
    std::unique_ptr<AudioOutputEngine> engine;
    std::shared_ptr<MeterPeakStorage> meterPeaks;
    bool isMeterTapInstalled = false;
    // Start frame of the segment last scheduled. The player's sample time counts from here across
    // pauses, so the position after a resume is this plus the sample time.
    std::int64_t segmentOriginFrame = 0;

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
        engine->installTap([peaks = meterPeaks](const float* interleaved, std::int64_t frames, int channels) {
            const AudioMeterLevels levels = measurePeakLevels(interleaved, frames, channels);
            peaks->store(levels.leftPeakDBFS, levels.rightPeakDBFS);
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
    , timeDisplayText_(noTimeDisplayText)
    , readFileFormat_(std::move(readFileFormat))
    , meterPeaks_(std::make_shared<MeterPeakStorage>())
    , node_(new AudioNode{std::move(engine), meterPeaks_})
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

bool AudioPlaybackController::isActive(const QUrl& url) const
{
    return !activeURL_.isEmpty() && activeURL_ == url;
}

void AudioPlaybackController::togglePlayPause(const QUrl& url)
{
    if (isActive(url) && isPlaying_) {
        pause();
        return;
    }
    if (!isActive(url)) {
        activate(url);
    }
    play();
}

void AudioPlaybackController::activate(const QUrl& url)
{
    stopTimers();
    ++scheduleGeneration_;
    resetState();

    const std::filesystem::path path = localPath(url);
    const auto opened = [&]() -> std::variant<AudioFileFormat, ActivationError> {
        auto format = readFileFormat_(path);
        if (!format || !(format->sampleRate > 0) || format->lengthFrames <= 0) {
            return ActivationError::unsupportedFormat;
        }
        return *format;
    }();
    if (std::holds_alternative<ActivationError>(opened)) {
        // Not reported further: the controller stays idle and a following play does nothing. Whatever
        // played before falls silent, as idle promises.
        audioFile_.reset();
        setActiveURL({});
        setDurationSeconds(0);
        updateTimeDisplay();
        onAudioQueue([](AudioNode& node) { node.engine->pause(); });
        return;
    }
    const auto format = std::get<AudioFileFormat>(opened);
    audioFile_ = OpenAudioFile{path, format};
    setActiveURL(url);
    segmentStartFrame_ = 0;
    setDurationSeconds(static_cast<double>(format.lengthFrames) / format.sampleRate);
    setPlaybackProgress(0);
    onAudioQueue([format](AudioNode& node) { node.configureGraph(format); });
    updateTimeDisplay();
}

void AudioPlaybackController::resetState()
{
    audioFile_.reset();
    setActiveURL({});
    setIsPlaying(false);
    setPlaybackProgress(0);
    setDurationSeconds(0);
    segmentStartFrame_ = 0;
    hasScheduledSegment_ = false;
    lastScheduledStartFrame_ = -1;
    resetMeters();
    updateTimeDisplay();
}

void AudioPlaybackController::play()
{
    if (!audioFile_) {
        return;
    }
    const bool resumes =
        hasScheduledSegment_ && lastScheduledStartFrame_ == segmentStartFrame_ && lastScheduledStartFrame_ >= 0;
    if (!resumes) {
        scheduleAndPlay(hasScheduledSegment_ || lastScheduledStartFrame_ >= 0 ? Restart::yes : Restart::no);
        return;
    }
    // The paused segment continues. Its completion was made stale by the pause; it gets one for the
    // current generation, so the end of the file after a resume still finishes playback (once).
    onAudioQueue([completion = completionFor(scheduleGeneration_)](AudioNode& node) {
        node.engine->replaceCompletion(completion);
        if (!node.engine->isRunning()) {
            node.engine->start();
        }
        if (!node.engine->isPlaying()) {
            node.engine->play();
        }
    });
    setIsPlaying(true);
    startTimers();
}

void AudioPlaybackController::scheduleAndPlay(Restart restart)
{
    if (!audioFile_) {
        return;
    }
    const std::uint64_t generation = ++scheduleGeneration_;
    const std::int64_t start = segmentStartFrame_;
    const std::int64_t frameCount = audioFile_->format.lengthFrames - start;
    if (frameCount < 1) {
        finishPlayback();
        return;
    }
    const AudioSegment segment{audioFile_->path, start, frameCount};
    onAudioQueue([this, restart, segment, generation, completion = completionFor(generation)](AudioNode& node) {
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
        onGuiThread([this, generation, start = segment.startFrame] {
            // A pause, seek or stop since then has the last word.
            if (scheduleGeneration_ != generation) {
                return;
            }
            hasScheduledSegment_ = true;
            lastScheduledStartFrame_ = start;
            setIsPlaying(true);
            startTimers();
        });
    });
}

SegmentCompletion AudioPlaybackController::completionFor(std::uint64_t generation)
{
    return [this, generation] {
        onGuiThread([this, generation] {
            if (scheduleGeneration_ == generation) {
                finishPlayback();
            }
        });
    };
}

void AudioPlaybackController::pause()
{
    const std::uint64_t generation = ++scheduleGeneration_;
    const std::int64_t length = audioFile_ ? audioFile_->format.lengthFrames : 0;
    const bool hasFile = audioFile_.has_value();
    onAudioQueue([this, generation, length, hasFile](AudioNode& node) {
        if (hasFile) {
            if (const auto position = node.playerPosition()) {
                const std::int64_t frame = std::min(*position, length);
                onGuiThread([this, generation, frame, length] {
                    // Dropped when a seek, stop or new schedule came after the pause.
                    if (scheduleGeneration_ != generation) {
                        return;
                    }
                    segmentStartFrame_ = frame;
                    lastScheduledStartFrame_ = frame;
                    setPlaybackProgress(fractionOf(frame, length));
                    updateTimeDisplay();
                });
            }
        }
        node.engine->pause();
    });
    setIsPlaying(false);
    stopTimers();
    resetMeters();
    updateTimeDisplay();
}

void AudioPlaybackController::stop()
{
    stopTimers();
    ++scheduleGeneration_;
    lastScheduledStartFrame_ = -1;
    resetState();
    onAudioQueue([](AudioNode& node) {
        node.engine->pause();
        node.removeMeterTap();
    });
}

void AudioPlaybackController::seek(double progress, const QUrl& url)
{
    const double clamped = std::isnan(progress) ? 0.0 : std::clamp(progress, 0.0, 1.0);
    if (!isActive(url)) {
        activate(url);
    }
    if (!audioFile_) {
        setPlaybackProgress(clamped);
        updateTimeDisplay();
        return;
    }
    const std::int64_t frame = frameForProgress(clamped, audioFile_->format.lengthFrames);
    if (frame != segmentStartFrame_) {
        segmentStartFrame_ = frame;
        invalidateSchedule();
    }
    setPlaybackProgress(clamped);
    updateTimeDisplay();
}

void AudioPlaybackController::invalidateSchedule()
{
    ++scheduleGeneration_;
    hasScheduledSegment_ = false;
    lastScheduledStartFrame_ = -1;
    onAudioQueue([](AudioNode& node) { node.engine->stop(); });
}

void AudioPlaybackController::beginScrub(const QUrl& url)
{
    if (!isActive(url)) {
        activate(url);
    }
    if (isScrubbing_) {
        return;
    }
    wasPlayingBeforeScrub_ = isPlaying_;
    setIsScrubbing(true);
    if (isPlaying_) {
        ++scheduleGeneration_;
        stopTimers();
        setIsPlaying(false);
        onAudioQueue([](AudioNode& node) { node.engine->pause(); });
    }
}

void AudioPlaybackController::endScrub(double progress, const QUrl& url)
{
    if (!isScrubbing_) {
        seek(progress, url);
        return;
    }
    setIsScrubbing(false);
    const bool resume = std::exchange(wasPlayingBeforeScrub_, false);
    seek(progress, url);
    if (!audioFile_) {
        return;
    }
    if (resume) {
        scheduleAndPlay(Restart::yes);
    } else {
        invalidateSchedule();
    }
}

void AudioPlaybackController::finishPlayback()
{
    setIsPlaying(false);
    setPlaybackProgress(1.0);
    hasScheduledSegment_ = false;
    lastScheduledStartFrame_ = -1;
    stopTimers();
    resetMeters();
    updateTimeDisplay();
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
    if (isPlaying_) {
        setMeterLevels(meterPeaks_->load());
    }
}

void AudioPlaybackController::progressTick()
{
    if (!audioFile_ || !isPlaying_ || isScrubbing_) {
        return;
    }
    const std::uint64_t generation = scheduleGeneration_;
    const std::int64_t length = audioFile_->format.lengthFrames;
    onAudioQueue([this, generation, length](AudioNode& node) {
        const auto position = node.playerPosition();
        if (!position) {
            return; // nothing rendered (no output device, or the player is stopped)
        }
        onGuiThread([this, generation, progress = fractionOf(*position, length)] {
            if (isPlaying_ && scheduleGeneration_ == generation) {
                setPlaybackProgress(progress);
                updateTimeDisplay();
            }
        });
    });
}

void AudioPlaybackController::resetMeters()
{
    meterPeaks_->reset();
    setMeterLevels(AudioMeterLevels{});
}

void AudioPlaybackController::updateTimeDisplay()
{
    if (activeURL_.isEmpty() || !(durationSeconds_ > 0)) {
        setTimeDisplayText(noTimeDisplayText);
        return;
    }
    setTimeDisplayText(formatTime(durationSeconds_ * playbackProgress_) + QStringLiteral(" / ") +
                       formatTime(durationSeconds_));
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

void AudioPlaybackController::setActiveURL(const QUrl& url)
{
    if (activeURL_ != url) {
        activeURL_ = url;
        emit activeURLChanged();
    }
}

void AudioPlaybackController::setIsPlaying(bool playing)
{
    if (isPlaying_ != playing) {
        isPlaying_ = playing;
        emit isPlayingChanged();
    }
}

void AudioPlaybackController::setPlaybackProgress(double progress)
{
    if (playbackProgress_ != progress) {
        playbackProgress_ = progress;
        emit playbackProgressChanged();
    }
}

void AudioPlaybackController::setDurationSeconds(double seconds)
{
    if (durationSeconds_ != seconds) {
        durationSeconds_ = seconds;
        emit durationSecondsChanged();
    }
}

void AudioPlaybackController::setTimeDisplayText(const QString& text)
{
    if (timeDisplayText_ != text) {
        timeDisplayText_ = text;
        emit timeDisplayTextChanged();
    }
}

void AudioPlaybackController::setMeterLevels(const AudioMeterLevels& levels)
{
    if (meterLevels_ != levels) {
        meterLevels_ = levels;
        emit meterLevelsChanged();
    }
}

void AudioPlaybackController::setIsScrubbing(bool scrubbing)
{
    if (isScrubbing_ != scrubbing) {
        isScrubbing_ = scrubbing;
        emit isScrubbingChanged();
    }
}

} // namespace ferrylantern
