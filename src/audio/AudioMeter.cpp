#include "audio/AudioMeter.h"

#include <algorithm>
#include <cmath>

namespace ferrylantern {

namespace {

constexpr float silenceThreshold = 1e-7f;
constexpr float fullScaleDBFS = 0.0f;

} // namespace

float peakToDBFS(float peak)
{
    if (!(peak > silenceThreshold)) {
        return meterFloorDBFS;
    }
    return std::clamp(20.0f * std::log10(peak), meterFloorDBFS, fullScaleDBFS);
}

} // namespace ferrylantern
