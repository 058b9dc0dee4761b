// Waveform extraction: decodes a file once and keeps, for each of N buckets, the largest absolute
// sample of the first two channels, examining about F frames per bucket.
//
// Every function here is pure (it reads only the file it is given) and thread-safe; the loader runs
// them on its pool threads, tests and benchmarks call them directly.
#pragma once

#include "audio/StereoWaveformSamples.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

namespace ferrylantern {

// Bucketing of decoded 16-bit chunks, fed one chunk at a time in file order.
//
// The total frame count T is fixed by the first usable chunk as ⌈rate × duration⌉; each chunk is then
// examined every k = max(1, ⌊T / (N × F)⌋) frames, the phase restarting at every chunk, and frame g of
// the file lands in bucket ⌊g × (N − 1) / (T − 1)⌋. Peaks are |sample / 32767| in 32-bit floats, so
// the sample −32768 reads slightly above 1.
class StereoPeakAccumulator
{
public:
    // `durationSeconds` must be finite and > 0.
    StereoPeakAccumulator(int targetSampleCount, int framesPerBucketScan, double durationSeconds);

    // One chunk of `byteCount` bytes of interleaved samples. Chunks with a sample rate ≤ 0, no bytes or
    // fewer samples than channels are skipped; a channel count of 0 counts as 1.
    void addChunk(const std::int16_t* samples, std::int64_t byteCount, double sampleRate, unsigned channelsPerFrame);

    // The normalised waveform, or nothing when no bucket of the first channel is above 0.
    std::optional<StereoWaveformSamples> finish() const;

    std::int64_t totalFrameCount() const { return totalFrames_; }
    const std::vector<float>& leftPeaks() const { return left_; }
    const std::vector<float>& rightPeaks() const { return right_; }

private:
    std::size_t bucketFor(std::int64_t framePosition) const;

    int targetSampleCount_;
    int framesPerBucketScan_;
    double durationSeconds_;
    std::vector<float> left_;
    std::vector<float> right_;
    bool isMono_ = true;
    std::int64_t totalFrames_ = 0;    // T; 0 until the first usable chunk
    std::int64_t framesConsumed_ = 0; // P
};

// Decodes `path` and returns its waveform with `targetSampleCount` buckets per channel and its
// duration (the container's, or the decoded length when the container only estimated it); nothing when
// the file has no audio track, a duration that is not a finite number > 0, breaks off before its end, or
// has a silent first channel.
std::optional<ExtractionResult> extractStereoWaveform(const std::filesystem::path& path, int targetSampleCount,
                                                      int framesPerBucketScan);

// Divides both channels by their joint largest value (each result at most 1), keeping their relative
// levels; returns them unchanged when that value is not above 0.
std::pair<std::vector<float>, std::vector<float>> normalizePeaks(std::vector<float> left, std::vector<float> right);

// The duration of `path` in seconds when it is a finite number > 0.
std::optional<double> readDurationSeconds(const std::filesystem::path& path);

} // namespace ferrylantern
