// The data of one playback segment for a pull-mode QAudioSink: a decoder thread of its own decodes the
// file from the segment's start frame to the real end of its stream into a bounded buffer of interleaved
// float frames, and the sink reads from it. When decoding ends, the source says how: the end of the
// stream (and so the file's real length), or a stream cut short.
//
// Threads: created, read (readData) and destroyed on the audio node thread; the decoder thread only
// fills the buffer. The buffer is guarded by lock_; the decoder thread wakes a starved sink by a queued
// readyRead() on the audio node thread.
#pragma once

#include "audio/AudioDecoder.h"
#include "audio/AudioOutputEngine.h"
#include "base/Mutex.h"

#include <QIODevice>

#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

namespace ferrylantern {

// How decoding from `startFrame` that ended with `status` after `decodedFrames` frames ended. A stream that
// broke off is cut short; so is one that reached the end of the file more than a moment before the
// length its header states (`statedLengthFrames`; nothing when the container only estimated its length),
// which is a truncated file. Within that moment lie the encoder's padding and packets lost to damage
// the decoder resynchronised after.
SegmentEnd::Kind segmentEndKind(DecoderStatus status, std::int64_t startFrame, std::int64_t decodedFrames,
                                std::optional<std::int64_t> statedLengthFrames, int sampleRate);

class PlaybackSegmentSource final : public QIODevice
{
    Q_OBJECT

public:
    // Starts decoding `segment` at once into frames of `channelCount` channels (1 or 2) at `sampleRate`.
    PlaybackSegmentSource(const AudioSegment& segment, int sampleRate, int channelCount);
    ~PlaybackSegmentSource() override; // stops and joins the decoder thread
    Q_DISABLE_COPY_MOVE(PlaybackSegmentSource)

    // Every buffer handed to the sink passes through `tap` (an empty function removes it).
    void setTap(MeterTap tap) { tap_ = std::move(tap); }

    // The decoder has finished (end of the stream, or cut short) and the sink has taken every frame it
    // produced.
    bool isExhausted() const;
    std::int64_t handedFrames() const { return handedFrames_; }

    // How decoding ended; nothing while it goes on.
    std::optional<SegmentEnd::Kind> ending() const;
    // The frames the segment has in all, once decoding has reached the real end of the stream.
    std::optional<std::int64_t> decodedLength() const;

    bool isSequential() const override { return true; }
    bool atEnd() const override { return isExhausted(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    void decode(AudioSegment segment);
    bool write(const float* interleaved, std::int64_t frameCount, int sourceChannels);
    // Waits for room in the ring and copies as many of the frames after `written` as fit; false when
    // cancelled.
    bool copyIntoRing(const float* interleaved, std::int64_t frameCount, int sourceChannels, std::int64_t& written)
        REQUIRES(lock_);
    void wakeReader();

    const int channelCount_;
    MeterTap tap_;                  // audio node thread only
    std::int64_t handedFrames_ = 0; // audio node thread only

    mutable Mutex lock_;
    ConditionVariable spaceAvailable_;
    std::vector<float> buffer_ GUARDED_BY(lock_); // ring of whole frames
    std::size_t readFrame_ GUARDED_BY(lock_) = 0;
    std::size_t bufferedFrames_ GUARDED_BY(lock_) = 0;
    bool decoderFinished_ GUARDED_BY(lock_) = false;
    std::int64_t decodedFrames_ GUARDED_BY(lock_) = 0;
    std::optional<SegmentEnd::Kind> ending_ GUARDED_BY(lock_); // set when the decoder finishes
    bool cancelled_ GUARDED_BY(lock_) = false;
    bool readerStarved_ GUARDED_BY(lock_) = false;
    std::thread decoder_;
};

} // namespace ferrylantern
