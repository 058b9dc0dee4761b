// The waveform of one audio file as the views draw it: normalised peaks per bucket and channel.
#pragma once

#include <vector>

namespace ferrylantern {

struct StereoWaveformSamples
{
    bool isMono = true;       // every decoded chunk had at most one channel
    std::vector<float> left;  // peaks of the first channel, one per bucket, each in 0...1
    std::vector<float> right; // peaks of the second channel; empty when isMono

    friend bool operator==(const StereoWaveformSamples&, const StereoWaveformSamples&) = default;
};

// The result of one extraction: the waveform and the file's duration (finite and > 0): the container's,
// or the length decoding found when the container could only estimate it.
struct ExtractionResult
{
    StereoWaveformSamples samples;
    double durationSeconds = 0;

    friend bool operator==(const ExtractionResult&, const ExtractionResult&) = default;
};

} // namespace ferrylantern
