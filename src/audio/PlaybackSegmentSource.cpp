#include "audio/PlaybackSegmentSource.h"

#include "audio/AudioDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ferrylantern {

namespace {

// Enough decoded audio to ride out a slow read of the file, small enough to start at once.
constexpr double bufferSeconds = 0.5;
constexpr std::size_t minimumBufferFrames = 4096;
constexpr std::int64_t bytesPerSample = sizeof(float);

// How far short of its stated length a stream may end and still count as whole: MP3 encoders' padding
// and AAC's priming are tens of milliseconds, and a few packets of damage skipped in the middle take a
// few hundred. A file that ends earlier than that was cut off.
constexpr double shortfallToleranceSeconds = 0.5;

} // namespace

SegmentEnd::Kind segmentEndKind(DecoderStatus status, std::int64_t startFrame, std::int64_t decodedFrames,
                                std::optional<std::int64_t> statedLengthFrames, int sampleRate)
{
    if (status != DecoderStatus::completed) {
        return SegmentEnd::Kind::cutShort;
    }
    if (statedLengthFrames && sampleRate > 0) {
        const auto tolerance = static_cast<std::int64_t>(shortfallToleranceSeconds * sampleRate);
        if (startFrame + decodedFrames < *statedLengthFrames - tolerance) {
            return SegmentEnd::Kind::cutShort;
        }
    }
    return SegmentEnd::Kind::endOfStream;
}

PlaybackSegmentSource::PlaybackSegmentSource(const AudioSegment& segment, int sampleRate, int channelCount)
    : channelCount_(std::clamp(channelCount, 1, 2))
{
    const auto frames =
        std::max(minimumBufferFrames, static_cast<std::size_t>(bufferSeconds * std::max(sampleRate, 0)));
    buffer_.resize(frames * static_cast<std::size_t>(channelCount_));
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    decoder_ = std::thread([this, segment] { decode(segment); });
}

PlaybackSegmentSource::~PlaybackSegmentSource()
{
    {
        const MutexLock guard(lock_);
        cancelled_ = true;
    }
    spaceAvailable_.notifyAll();
    decoder_.join();
}

bool PlaybackSegmentSource::isExhausted() const
{
    const MutexLock guard(lock_);
    return decoderFinished_ && bufferedFrames_ == 0;
}

std::optional<SegmentEnd::Kind> PlaybackSegmentSource::ending() const
{
    const MutexLock guard(lock_);
    return ending_;
}

std::optional<std::int64_t> PlaybackSegmentSource::decodedLength() const
{
    const MutexLock guard(lock_);
    if (ending_ != SegmentEnd::Kind::endOfStream) {
        return std::nullopt;
    }
    return decodedFrames_;
}

void PlaybackSegmentSource::decode(AudioSegment segment)
{
    auto container = AudioContainer::open(segment.file);
    std::optional<std::int64_t> statedLength;
    int sampleRate = 0;
    if (container) {
        const auto track = container->firstAudioTrack();
        sampleRate = track ? track->sampleRate : 0;
        const double length = std::round(container->durationSeconds() * sampleRate);
        if (!container->isDurationEstimated() && std::isfinite(length) && length > 0) {
            statedLength = static_cast<std::int64_t>(length);
        }
    }
    auto decoder = AudioDecoder::open(std::move(container), DecodedSampleType::float32, DecodedChannels::atMostStereo);
    std::int64_t decoded = 0;
    DecoderStatus status = DecoderStatus::failed;
    if (decoder) {
        decoder->startAtFrame(segment.startFrame);
        while (const DecodedChunk* chunk = decoder->nextChunk()) {
            if (chunk->channelCount <= 0) {
                continue;
            }
            if (!write(static_cast<const float*>(chunk->data), chunk->frameCount, chunk->channelCount)) {
                break; // cancelled: nobody asks how it ended
            }
            decoded += chunk->frameCount;
        }
        status = decoder->status();
    }
    {
        const MutexLock guard(lock_);
        decoderFinished_ = true;
        decodedFrames_ = decoded;
        ending_ = segmentEndKind(status, segment.startFrame, decoded, statedLength, sampleRate);
    }
    wakeReader();
}

// Copies frames into the ring, waiting for space; a chunk whose width differs from ours (a stream that
// changes layout part way) is fitted by repeating or dropping channels. False when cancelled.
bool PlaybackSegmentSource::write(const float* interleaved, std::int64_t frameCount, int sourceChannels)
{
    std::int64_t written = 0;
    while (written < frameCount) {
        {
            const MutexLock guard(lock_);
            if (!copyIntoRing(interleaved, frameCount, sourceChannels, written)) {
                return false;
            }
        }
        wakeReader();
    }
    return true;
}

bool PlaybackSegmentSource::copyIntoRing(const float* interleaved, std::int64_t frameCount, int sourceChannels,
                                         std::int64_t& written)
{
    const std::size_t capacity = buffer_.size() / static_cast<std::size_t>(channelCount_);
    while (!cancelled_ && bufferedFrames_ >= capacity) {
        spaceAvailable_.wait(lock_);
    }
    if (cancelled_) {
        return false;
    }
    const auto room = static_cast<std::int64_t>(capacity - bufferedFrames_);
    const std::int64_t frames = std::min(room, frameCount - written);
    for (std::int64_t i = 0; i < frames; ++i) {
        const std::size_t slot = (readFrame_ + bufferedFrames_ + static_cast<std::size_t>(i)) % capacity;
        const float* source = interleaved + (written + i) * sourceChannels;
        for (int channel = 0; channel < channelCount_; ++channel) {
            buffer_[slot * static_cast<std::size_t>(channelCount_) + static_cast<std::size_t>(channel)] =
                source[std::min(channel, sourceChannels - 1)];
        }
    }
    bufferedFrames_ += static_cast<std::size_t>(frames);
    written += frames;
    return true;
}

// After the sink found the buffer empty it waits for readyRead(); it is emitted on the source's own
// (audio node) thread.
void PlaybackSegmentSource::wakeReader()
{
    {
        const MutexLock guard(lock_);
        if (!readerStarved_) {
            return;
        }
        readerStarved_ = false;
    }
    QMetaObject::invokeMethod(
        this, [this] { emit readyRead(); }, Qt::QueuedConnection);
}

qint64 PlaybackSegmentSource::readData(char* data, qint64 maxSize)
{
    const std::int64_t frameBytes = bytesPerSample * channelCount_;
    const std::int64_t wanted = maxSize / frameBytes;
    std::int64_t taken = 0;
    {
        const MutexLock guard(lock_);
        const std::size_t capacity = buffer_.size() / static_cast<std::size_t>(channelCount_);
        taken = std::min(wanted, static_cast<std::int64_t>(bufferedFrames_));
        // At most two runs: up to the end of the ring, then from its start.
        const auto firstRun = std::min<std::int64_t>(taken, static_cast<std::int64_t>(capacity - readFrame_));
        std::memcpy(data, buffer_.data() + readFrame_ * static_cast<std::size_t>(channelCount_),
                    static_cast<std::size_t>(firstRun * frameBytes));
        std::memcpy(data + firstRun * frameBytes, buffer_.data(),
                    static_cast<std::size_t>((taken - firstRun) * frameBytes));
        readFrame_ = (readFrame_ + static_cast<std::size_t>(taken)) % capacity;
        bufferedFrames_ -= static_cast<std::size_t>(taken);
        if (taken == 0 && !decoderFinished_) {
            readerStarved_ = true;
        }
    }
    spaceAvailable_.notifyAll();
    if (taken > 0 && tap_) {
        tap_(reinterpret_cast<const float*>(data), taken, channelCount_, handedFrames_);
    }
    handedFrames_ += taken;
    return taken * frameBytes;
}

qint64 PlaybackSegmentSource::writeData(const char* /*data*/, qint64 /*maxSize*/)
{
    return -1; // read-only
}

} // namespace ferrylantern
