// The data of one playback segment for a pull-mode QAudioSink: a decoder thread of its own decodes the
// segment into a bounded buffer of interleaved float frames, and the sink reads from it.
//
// Threads: created, read (readData) and destroyed on the audio node thread; the decoder thread only
// fills the buffer. The buffer is guarded by lock_; the decoder thread wakes a starved sink by a queued
// readyRead() on the audio node thread.
#pragma once

#include "audio/AudioOutputEngine.h"

#include <QIODevice>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace ferrylantern {

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

    // The decoder has finished (end of segment, end of file, or failure) and the sink has taken every
    // frame it produced.
    bool isExhausted() const;
    std::int64_t handedFrames() const { return handedFrames_; }

    bool isSequential() const override { return true; }
    bool atEnd() const override { return isExhausted(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    void decode(AudioSegment segment);
    bool write(const float* interleaved, std::int64_t frameCount, int sourceChannels);
    void wakeReader();

    const int channelCount_;
    MeterTap tap_;                  // audio node thread only
    std::int64_t handedFrames_ = 0; // audio node thread only

    mutable std::mutex lock_;
    std::condition_variable spaceAvailable_;
    std::vector<float> buffer_;      // ring of whole frames; guarded by lock_
    std::size_t readFrame_ = 0;      // guarded by lock_
    std::size_t bufferedFrames_ = 0; // guarded by lock_
    bool decoderFinished_ = false;   // guarded by lock_
    bool cancelled_ = false;         // guarded by lock_
    bool readerStarved_ = false;     // guarded by lock_
    std::thread decoder_;
};

} // namespace ferrylantern
