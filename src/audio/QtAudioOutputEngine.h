// The real output engine: a Qt Multimedia QAudioSink in pull mode on the default output device, fed by
// a PlaybackSegmentSource (with its own decoder thread). The player's sample time is what the sink has
// processed since the segment began, pauses not counted: the frames its sound server has played, less
// the server's own latency, so it stands for what is being heard rather than what was handed over. A
// segment counts as played back once its decoder has finished and the sink has processed every frame
// handed to it.
//
// Thread-compatible, like every AudioOutputEngine: used and destroyed on the audio node thread, which
// must run a Qt event loop (the sink and the completion check are driven by it). It may be constructed on
// any thread: its Qt objects are made on first use.
#pragma once

#include "audio/AudioOutputEngine.h"

#include <QAudioDevice>
#include <QTimer>

#include <memory>

class QAudioSink;

namespace ferrylantern {

class PlaybackSegmentSource;

class QtAudioOutputEngine final : public AudioOutputEngine
{
public:
    QtAudioOutputEngine();
    ~QtAudioOutputEngine() override;
    QtAudioOutputEngine(const QtAudioOutputEngine&) = delete;
    QtAudioOutputEngine& operator=(const QtAudioOutputEngine&) = delete;

    bool isRunning() const override { return running_; }
    bool start() override;
    void connectPlayer(const AudioFileFormat& format) override;
    void installTap(MeterTap tap) override;
    void removeTap() override;
    void scheduleSegment(const AudioSegment& segment, SegmentCompletion completion) override;
    void replaceCompletion(SegmentCompletion completion) override;
    void play() override;
    void pause() override;
    void stop() override;
    bool isPlaying() const override { return playing_; }
    std::optional<std::int64_t> playerSampleTime() const override;
    std::optional<std::int64_t> decodedSegmentLength() const override;

private:
    void discardSegment();
    void checkPlayedBack();
    std::int64_t processedFrames() const;

    bool running_ = false;
    QAudioDevice device_;
    AudioFileFormat format_;
    int outputChannels_ = 2;
    MeterTap tap_;

    // The current segment: the sink plays it from the start of its stream, so the sink's processed time
    // is the segment's sample time.
    std::unique_ptr<QAudioSink> sink_;
    std::unique_ptr<PlaybackSegmentSource> source_;
    SegmentCompletion completion_;
    bool sinkStarted_ = false;
    bool playedBack_ = false;
    SegmentEnd playedBackEnd_; // how the segment ended, once playedBack_
    bool playing_ = false;
    std::unique_ptr<QTimer> playedBackCheck_;
};

} // namespace ferrylantern
