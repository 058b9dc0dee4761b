// Peak levels of played audio in dBFS, as the meter views show them. (AudioMeterTimeline measures them per
// block of output and keeps them until the block is heard.)
#pragma once

#include <QMetaType>

namespace ferrylantern {

inline constexpr float meterFloorDBFS = -80.0f;

// Levels published to the meters, each in −80...0 dBFS. A plain value.
struct AudioMeterLevels
{
    float leftPeakDBFS = meterFloorDBFS;
    float rightPeakDBFS = meterFloorDBFS;

    friend bool operator==(const AudioMeterLevels&, const AudioMeterLevels&) = default;
};

// A peak (largest absolute sample, full scale 1) in dBFS: 20 × log10(peak) limited to −80...0 when the
// peak is above 1e-7, else −80.
float peakToDBFS(float peak);

} // namespace ferrylantern

Q_DECLARE_METATYPE(ferrylantern::AudioMeterLevels)
