#include "audio/AudioMeter.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace ferrylantern {

namespace {

constexpr float silenceThreshold = 1e-7f;
constexpr float fullScaleDBFS = 0.0f;

} // namespace

MeterPeakStorage::MeterPeakStorage()
    : left_(std::bit_cast<std::uint32_t>(meterFloorDBFS))
    , right_(std::bit_cast<std::uint32_t>(meterFloorDBFS))
{}

void MeterPeakStorage::store(float leftDBFS, float rightDBFS)
{
    left_.store(std::bit_cast<std::uint32_t>(leftDBFS), std::memory_order_relaxed);
    right_.store(std::bit_cast<std::uint32_t>(rightDBFS), std::memory_order_relaxed);
}

float MeterPeakStorage::left() const
{
    return std::bit_cast<float>(left_.load(std::memory_order_relaxed));
}

float MeterPeakStorage::right() const
{
    return std::bit_cast<float>(right_.load(std::memory_order_relaxed));
}

float peakToDBFS(float peak)
{
    if (!(peak > silenceThreshold)) {
        return meterFloorDBFS;
    }
    return std::clamp(20.0f * std::log10(peak), meterFloorDBFS, fullScaleDBFS);
}

AudioMeterLevels measurePeakLevels(const float* interleaved, std::int64_t frameCount, int channelCount)
{
    if (interleaved == nullptr || frameCount <= 0 || channelCount <= 0) {
        return {};
    }
    float left = 0;
    float right = 0;
    for (std::int64_t frame = 0; frame < frameCount; ++frame) {
        const float* samples = interleaved + frame * channelCount;
        left = std::max(left, std::fabs(samples[0]));
        if (channelCount > 1) {
            right = std::max(right, std::fabs(samples[1]));
        }
    }
    const float leftDBFS = peakToDBFS(left);
    return {leftDBFS, channelCount > 1 ? peakToDBFS(right) : leftDBFS};
}

} // namespace ferrylantern
