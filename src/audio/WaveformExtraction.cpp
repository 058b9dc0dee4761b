#include "audio/WaveformExtraction.h"

#include "audio/AudioDecoder.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ferrylantern {

namespace {

// The divisor of the peak measure: 32767, not 32768, so a full-scale negative sample reads above 1.
constexpr float peakDivisor = 32767.0f;
constexpr std::int64_t bytesPerSample = 2;

float peakOf(std::int16_t sample)
{
    return std::fabs(static_cast<float>(sample) / peakDivisor);
}

// T = max(1, ⌈rate × duration⌉). A duration far beyond any real file saturates, so that
// position × (N − 1) stays within 64 bits instead of overflowing.
std::int64_t totalFramesFor(double sampleRate, double durationSeconds, int targetSampleCount)
{
    const std::int64_t largest = std::numeric_limits<std::int64_t>::max() / std::max(targetSampleCount, 2);
    const double frames = std::ceil(sampleRate * durationSeconds);
    if (!(frames < static_cast<double>(largest))) {
        return largest;
    }
    return std::max<std::int64_t>(1, static_cast<std::int64_t>(frames));
}

} // namespace

StereoPeakAccumulator::StereoPeakAccumulator(int targetSampleCount, int framesPerBucketScan, double durationSeconds)
    : targetSampleCount_(std::max(targetSampleCount, 0))
    , framesPerBucketScan_(framesPerBucketScan)
    , durationSeconds_(durationSeconds)
    , left_(static_cast<std::size_t>(targetSampleCount_), 0.0f)
    , right_(static_cast<std::size_t>(targetSampleCount_), 0.0f)
{}

std::size_t StereoPeakAccumulator::bucketFor(std::int64_t framePosition) const
{
    if (totalFrames_ < 1 || targetSampleCount_ < 2) {
        return 0;
    }
    const std::int64_t clamped = std::clamp<std::int64_t>(framePosition, 0, totalFrames_ - 1);
    return static_cast<std::size_t>(clamped * (targetSampleCount_ - 1) / std::max<std::int64_t>(totalFrames_ - 1, 1));
}

void StereoPeakAccumulator::addChunk(const std::int16_t* samples, std::int64_t byteCount, double sampleRate,
                                     unsigned channelsPerFrame)
{
    if (!(sampleRate > 0)) {
        return;
    }
    const std::int64_t channels = channelsPerFrame == 0 ? 1 : channelsPerFrame;
    if (channels >= 2) {
        isMono_ = false;
    }
    if (totalFrames_ == 0) {
        totalFrames_ = totalFramesFor(sampleRate, durationSeconds_, targetSampleCount_);
    }
    const std::int64_t sampleCount = byteCount / bytesPerSample;
    if (samples == nullptr || byteCount <= 0 || sampleCount < channels) {
        return;
    }
    const std::int64_t frames = sampleCount / channels;
    if (targetSampleCount_ > 0) {
        const std::int64_t scannedFrames = static_cast<std::int64_t>(targetSampleCount_) * framesPerBucketScan_;
        const std::int64_t stride = std::max<std::int64_t>(1, scannedFrames > 0 ? totalFrames_ / scannedFrames : 1);
        for (std::int64_t i = 0; i < frames; i += stride) {
            const std::size_t bucket = bucketFor(framesConsumed_ + i);
            const std::int16_t* frame = samples + i * channels;
            left_[bucket] = std::max(left_[bucket], peakOf(frame[0]));
            if (channels >= 2) {
                right_[bucket] = std::max(right_[bucket], peakOf(frame[1]));
            }
        }
    }
    framesConsumed_ += frames;
}

std::optional<StereoWaveformSamples> StereoPeakAccumulator::finish() const
{
    // Only the first channel decides: a file whose left channel is silent has no waveform.
    if (std::none_of(left_.begin(), left_.end(), [](float value) { return value > 0; })) {
        return std::nullopt;
    }
    auto [left, right] = normalizePeaks(left_, isMono_ ? std::vector<float>{} : right_);
    StereoWaveformSamples samples;
    samples.isMono = isMono_;
    samples.left = std::move(left);
    if (!isMono_) {
        samples.right = std::move(right);
    }
    return samples;
}

std::pair<std::vector<float>, std::vector<float>> normalizePeaks(std::vector<float> left, std::vector<float> right)
{
    float largest = 0;
    for (const float value : left) {
        largest = std::max(largest, value);
    }
    for (const float value : right) {
        largest = std::max(largest, value);
    }
    if (largest <= 0) {
        return {std::move(left), std::move(right)};
    }
    const auto normalise = [largest](float value) { return std::min(value / largest, 1.0f); };
    std::transform(left.begin(), left.end(), left.begin(), normalise);
    std::transform(right.begin(), right.end(), right.begin(), normalise);
    return {std::move(left), std::move(right)};
}

std::optional<ExtractionResult> extractStereoWaveform(const std::filesystem::path& path, int targetSampleCount,
                                                      int framesPerBucketScan)
{
    auto container = AudioContainer::open(path);
    if (!container || container->audioStreamIndex() < 0) {
        return std::nullopt;
    }
    const double duration = container->durationSeconds();
    if (!(duration > 0) || !std::isfinite(duration)) {
        return std::nullopt;
    }
    const auto decoder = AudioDecoder::open(std::move(container), DecodedSampleType::int16);
    if (!decoder) {
        return std::nullopt;
    }
    StereoPeakAccumulator accumulator(targetSampleCount, framesPerBucketScan, duration);
    std::int64_t decodedFrames = 0;
    int sampleRate = 0;
    while (const DecodedChunk* chunk = decoder->nextChunk()) {
        accumulator.addChunk(static_cast<const std::int16_t*>(chunk->data), chunk->byteCount, chunk->sampleRate,
                             static_cast<unsigned>(std::max(chunk->channelCount, 0)));
        decodedFrames += chunk->frameCount;
        sampleRate = chunk->sampleRate > 0 ? chunk->sampleRate : sampleRate;
    }
    // A stream that broke off gives no waveform, even though chunks were read. (Damage the decoder
    // resynchronised after does not count: the file plays to its end.)
    if (decoder->status() != DecoderStatus::completed) {
        return std::nullopt;
    }
    auto samples = accumulator.finish();
    if (!samples) {
        return std::nullopt;
    }
    // The buckets follow the container's duration either way; the duration shown is the real length when
    // the container could only estimate it.
    const bool useDecodedLength = decoder->container().isDurationEstimated() && decodedFrames > 0 && sampleRate > 0;
    const double shownDuration =
        useDecodedLength ? static_cast<double>(decodedFrames) / static_cast<double>(sampleRate) : duration;
    return ExtractionResult{std::move(*samples), shownDuration};
}

std::optional<double> readDurationSeconds(const std::filesystem::path& path)
{
    const auto container = AudioContainer::open(path);
    if (!container) {
        return std::nullopt;
    }
    const double duration = container->durationSeconds();
    if (!std::isfinite(duration) || duration <= 0) {
        return std::nullopt;
    }
    return duration;
}

} // namespace ferrylantern
