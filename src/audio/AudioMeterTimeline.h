// The peak levels of what playback has handed to the output, kept per block of 256 frames for the last
// several seconds, so that the meters can show the level of the frames being heard at this moment rather
// than of those just handed over: the output device's buffer lies between the two, 100 ms and more.
//
// Thread-compatible. In playback both the meter tap (which adds what is handed over) and the meter tick
// (which asks for what is heard) run on the audio node thread.
//
//     timeline.add(buffer, frames, channels, firstFrame);          // as the output takes the frames
//     AudioMeterLevels levels = timeline.levelsBetween(last, heard); // at each meter tick
#pragma once

#include "audio/AudioMeter.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ferrylantern {

class AudioMeterTimeline
{
public:
    static constexpr std::int64_t blockFrames = 256;
    // About 11 s at 48 kHz and 2.7 s at 192 kHz: far more than any output buffers.
    static constexpr std::size_t defaultCapacityBlocks = 2048;

    explicit AudioMeterTimeline(std::size_t capacityBlocks = defaultCapacityBlocks);

    // Forgets every block (a new segment starts at frame 0 again).
    void clear();

    // Takes in `frameCount` interleaved float frames whose first frame is frame `firstFrame` of the
    // segment. The left peak comes from channel 0, the right from channel 1 (a single channel meters
    // both). Safe on the audio thread: no allocation, no locks.
    void add(const float* interleaved, std::int64_t frameCount, int channelCount, std::int64_t firstFrame);

    // The loudest block among those holding frames `fromFrame` through `toFrame`, in dBFS; blocks never
    // added, or already overwritten, count as silence. A range reaching back further than the timeline
    // holds is shortened to its newest blocks.
    AudioMeterLevels levelsBetween(std::int64_t fromFrame, std::int64_t toFrame) const;

private:
    struct Block
    {
        std::int64_t index = -1; // which block of the segment this slot holds; -1 for none
        float left = 0;          // largest absolute sample so far
        float right = 0;
    };

    Block& slotFor(std::int64_t blockIndex);
    const Block* find(std::int64_t blockIndex) const;

    std::vector<Block> blocks_; // a ring: block i lives in slot i mod size
};

} // namespace ferrylantern
