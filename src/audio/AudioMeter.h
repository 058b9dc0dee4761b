// Peak levels of played audio in dBFS: the measurement of one output buffer, the cell the audio thread
// writes them into and the GUI thread reads them from, and the pair the meter views show.
#pragma once

#include <QMetaType>

#include <atomic>
#include <cstdint>

namespace ferrylantern {

inline constexpr float meterFloorDBFS = -80.0f;

// Levels published to the meters, each in −80...0 dBFS. A plain value.
struct AudioMeterLevels
{
    float leftPeakDBFS = meterFloorDBFS;
    float rightPeakDBFS = meterFloorDBFS;

    friend bool operator==(const AudioMeterLevels&, const AudioMeterLevels&) = default;
};

// The latest peaks written by the audio thread and read by the GUI thread's meter tick.
//
// Thread-safe and lock-free: each value is stored and loaded as one 32-bit atomic word, so the audio
// thread never waits; the two channels need not be consistent with each other.
class MeterPeakStorage
{
public:
    MeterPeakStorage();

    void store(float leftDBFS, float rightDBFS);
    float left() const;
    float right() const;
    AudioMeterLevels load() const { return {left(), right()}; }
    void reset() { store(meterFloorDBFS, meterFloorDBFS); }

private:
    static_assert(std::atomic<std::uint32_t>::is_always_lock_free);
    std::atomic<std::uint32_t> left_;
    std::atomic<std::uint32_t> right_;
};

// A peak (largest absolute sample, full scale 1) in dBFS: 20 × log10(peak) limited to −80...0 when the
// peak is above 1e-7, else −80.
float peakToDBFS(float peak);

// The levels of one output buffer of `frameCount` interleaved float frames: the left peak from channel
// 0, the right from channel 1, or equal to the left for a single channel. −80 for both when the buffer
// is absent or empty. Safe on the audio thread: no allocation, no locks.
AudioMeterLevels measurePeakLevels(const float* interleaved, std::int64_t frameCount, int channelCount);

} // namespace ferrylantern

Q_DECLARE_METATYPE(ferrylantern::AudioMeterLevels)
