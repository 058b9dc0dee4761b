// The output side of playback, behind an interface so the playback controller's logic also runs against
// a test engine whose clock the test moves. The real engine is QtAudioOutputEngine (Qt Multimedia).
//
// Thread-compatible: every call comes from the audio node queue (AudioNodeQueue.h), one at a time and
// in order; an engine is created, used and destroyed there.
#pragma once

#include "audio/AudioContainer.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace ferrylantern {

// One file played from `startFrame` to the real end of its stream, however long that turns out to be
// (the length the container states can be an estimate, or more than a damaged file holds). Frame counts
// are 64-bit: files longer than 2^32 frames play to their end.
struct AudioSegment
{
    std::filesystem::path file;
    std::int64_t startFrame = 0;
};

// How a segment ended once all of its decoded data had been played.
struct SegmentEnd
{
    enum class Kind
    {
        endOfStream, // decoded to the real end of the stream: startFrame + framesPlayed is the file's length
        cutShort,    // the stream broke off (damage nothing decodable follows, or a file shorter than its
                     // header says): playback stopped there
    };
    Kind kind = Kind::endOfStream;
    std::int64_t framesPlayed = 0; // frames of the segment played in all

    friend bool operator==(const SegmentEnd&, const SegmentEnd&) = default;
};

// Called on the audio node queue, at most once per segment, when the segment's data has been played.
using SegmentCompletion = std::function<void(SegmentEnd)>;

// Called with every buffer of interleaved float frames the engine hands to the output device, on the
// thread that hands it over; `segmentFrame` is where the buffer's first frame lies in the segment, on
// the scale of playerSampleTime(). Must not block or allocate.
using MeterTap =
    std::function<void(const float* interleaved, std::int64_t frameCount, int channelCount, std::int64_t segmentFrame)>;

class AudioOutputEngine
{
public:
    virtual ~AudioOutputEngine();

    // Whether an output is open. start() opens the default output; false when there is none (no sound
    // server): the player then stays silent and reports no sample time.
    virtual bool isRunning() const = 0;
    virtual bool start() = 0;

    // Connects the player for files of `format`, dropping whatever was scheduled or playing.
    virtual void connectPlayer(const AudioFileFormat& format) = 0;

    virtual void installTap(MeterTap tap) = 0;
    virtual void removeTap() = 0;

    // Replaces whatever was scheduled before with `segment`; the new segment is the only data played.
    // When the player is playing, the segment starts at once, else on play().
    virtual void scheduleSegment(const AudioSegment& segment, SegmentCompletion completion) = 0;

    // Gives the current segment another completion in place of its own. When the segment's data has
    // already been played, `completion` is called at once; without a segment nothing happens.
    virtual void replaceCompletion(SegmentCompletion completion) = 0;

    // play() starts the scheduled segment or continues a paused one where it stopped; it does nothing
    // while the engine is not running. stop() discards the scheduled data without its completion.
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void stop() = 0;
    virtual bool isPlaying() const = 0;

    // Frames of the current segment played so far, as far as they have been heard (the output's latency
    // taken off), pauses not counted; nothing when the player has rendered nothing of it (stopped, nothing
    // scheduled, or no output).
    virtual std::optional<std::int64_t> playerSampleTime() const = 0;

    // How many frames the current segment has, known as soon as its decoder has reached the real end of
    // the stream (usually a little before they are heard); nothing before that, without a segment, and
    // when the stream was cut short.
    virtual std::optional<std::int64_t> decodedSegmentLength() const = 0;
};

} // namespace ferrylantern
