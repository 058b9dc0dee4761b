#include "audio/QtAudioOutputEngine.h"

#include "audio/PlaybackSegmentSource.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>

#include <cmath>

namespace ferrylantern {

namespace {

// How often a playing segment is checked for having been played to its end.
constexpr std::chrono::milliseconds playedBackCheckInterval{20};
constexpr double microsecondsPerSecond = 1e6;

} // namespace

QtAudioOutputEngine::QtAudioOutputEngine() = default;

QtAudioOutputEngine::~QtAudioOutputEngine()
{
    discardSegment();
}

bool QtAudioOutputEngine::start()
{
    // Without a sound server there is no output device at all; the player then stays silent.
    device_ = QMediaDevices::defaultAudioOutput();
    running_ = !device_.isNull();
    return running_;
}

void QtAudioOutputEngine::connectPlayer(const AudioFileFormat& format)
{
    discardSegment();
    format_ = format;
    outputChannels_ = format.channelCount == 1 ? 1 : 2;
    // A new sink is made for the new format on the next play. The old one goes from the event loop:
    // destroying a PulseAudio sink processes pending events, which would run queued engine work in the
    // middle of this call.
    if (sink_) {
        sink_.release()->deleteLater();
    }
}

void QtAudioOutputEngine::installTap(MeterTap tap)
{
    tap_ = std::move(tap);
    if (source_) {
        source_->setTap(tap_);
    }
}

void QtAudioOutputEngine::removeTap()
{
    installTap({});
}

void QtAudioOutputEngine::scheduleSegment(const AudioSegment& segment, SegmentCompletion completion)
{
    const bool wasPlaying = playing_;
    discardSegment();
    const int rate = static_cast<int>(std::lround(format_.sampleRate));
    source_ = std::make_unique<PlaybackSegmentSource>(segment, rate, outputChannels_);
    source_->setTap(tap_);
    completion_ = std::move(completion);
    if (wasPlaying) {
        play();
    }
}

void QtAudioOutputEngine::replaceCompletion(SegmentCompletion completion)
{
    if (!source_) {
        return;
    }
    if (playedBack_) {
        if (completion) {
            completion(playedBackEnd_);
        }
        return;
    }
    completion_ = std::move(completion);
}

void QtAudioOutputEngine::play()
{
    if (!running_ || !source_ || playedBack_) {
        return;
    }
    if (!sink_) {
        QAudioFormat format;
        format.setSampleRate(static_cast<int>(std::lround(format_.sampleRate)));
        format.setChannelCount(outputChannels_);
        format.setSampleFormat(QAudioFormat::Float);
        sink_ = std::make_unique<QAudioSink>(device_, format);
    }
    if (!sinkStarted_) {
        sink_->start(source_.get());
        sinkStarted_ = true;
    } else if (sink_->state() == QAudio::SuspendedState) {
        sink_->resume();
    }
    playing_ = true;
    if (!playedBackCheck_) {
        playedBackCheck_ = std::make_unique<QTimer>();
        playedBackCheck_->setInterval(playedBackCheckInterval);
        QObject::connect(playedBackCheck_.get(), &QTimer::timeout, [this] { checkPlayedBack(); });
    }
    playedBackCheck_->start();
}

void QtAudioOutputEngine::pause()
{
    if (sink_ && sinkStarted_ && sink_->state() != QAudio::StoppedState) {
        sink_->suspend();
    }
    playing_ = false;
    if (playedBackCheck_) {
        playedBackCheck_->stop();
    }
}

void QtAudioOutputEngine::stop()
{
    discardSegment();
}

void QtAudioOutputEngine::discardSegment()
{
    if (playedBackCheck_) {
        playedBackCheck_->stop();
    }
    // The sink lets go of the source before the source goes.
    if (sink_ && sinkStarted_) {
        sink_->stop();
    }
    source_.reset();
    completion_ = {};
    sinkStarted_ = false;
    playedBack_ = false;
    playing_ = false;
}

std::int64_t QtAudioOutputEngine::processedFrames() const
{
    const auto microseconds = static_cast<double>(sink_->processedUSecs());
    return static_cast<std::int64_t>(std::floor(microseconds * format_.sampleRate / microsecondsPerSecond));
}

std::optional<std::int64_t> QtAudioOutputEngine::decodedSegmentLength() const
{
    return source_ ? source_->decodedLength() : std::nullopt;
}

std::optional<std::int64_t> QtAudioOutputEngine::playerSampleTime() const
{
    if (!sink_ || !sinkStarted_ || sink_->state() == QAudio::StoppedState) {
        return std::nullopt;
    }
    return processedFrames();
}

void QtAudioOutputEngine::checkPlayedBack()
{
    if (!source_ || playedBack_ || !sink_ || !source_->isExhausted()) {
        return;
    }
    // The sink reports time in whole microseconds, rounded down; compare on that scale.
    const auto handedMicroseconds = static_cast<qint64>(
        std::floor(static_cast<double>(source_->handedFrames()) * microsecondsPerSecond / format_.sampleRate));
    // A sink that stopped on an error plays nothing more: its segment never completes.
    if (sink_->state() == QAudio::StoppedState || sink_->processedUSecs() < handedMicroseconds) {
        return;
    }
    playedBack_ = true;
    playedBackEnd_ = SegmentEnd{source_->ending().value_or(SegmentEnd::Kind::cutShort), source_->handedFrames()};
    playedBackCheck_->stop();
    if (auto completion = std::exchange(completion_, {})) {
        completion(playedBackEnd_);
    }
}

} // namespace ferrylantern
