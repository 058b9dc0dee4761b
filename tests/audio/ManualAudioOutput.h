// A stand-in output engine and audio queue for the playback controller's tests: nothing plays until the
// test moves the player's clock, and queued engine work runs only when the test says so.
//
// GUI thread only (the tests run the queue on the thread that drives the controller).
#pragma once

#include "audio/AudioNodeQueue.h"
#include "audio/AudioOutputEngine.h"

#include <algorithm>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace ferrylantern::test {

class ManualAudioNodeQueue final : public AudioNodeQueue
{
public:
    ~ManualAudioNodeQueue() override { runAll(); } // as the real queue, it finishes what it was given
    void async(std::function<void()> work) override { work_.push_back(std::move(work)); }
    bool isEmpty() const { return work_.empty(); }

    void runAll()
    {
        while (!work_.empty()) {
            auto work = std::move(work_.front());
            work_.pop_front();
            work();
        }
    }

private:
    std::deque<std::function<void()>> work_;
};

class ManualAudioOutputEngine final : public AudioOutputEngine
{
public:
    // What decoding a file would find: its real length, where the stream ends.
    struct Stream
    {
        std::int64_t lengthFrames = 0;
    };

    // Every file a test plays needs its stream described.
    void setStream(const std::filesystem::path& file, Stream stream) { streams_[file.string()] = stream; }

    // Plays `frames` more frames if the player plays; the segment's completion runs after its last frame.
    void advance(std::int64_t frames)
    {
        if (!running_ || !playing_ || !segment_ || playedBack_) {
            return;
        }
        played_ = std::min(played_ + frames, segmentFrames());
        playedBack_ = played_ == segmentFrames();
        if (playedBack_ && completion_) {
            std::exchange(completion_, {})(SegmentEnd{SegmentEnd::Kind::endOfStream, played_});
        }
    }

    // Hands the next output buffer of the segment to the meter tap (it is heard once advance() passes it).
    void render(const std::vector<float>& interleaved, int channels)
    {
        const auto frames = static_cast<std::int64_t>(interleaved.size()) / channels;
        if (tap_) {
            tap_(interleaved.data(), frames, channels, rendered_);
        }
        rendered_ += frames;
    }

    const std::vector<AudioSegment>& scheduledSegments() const { return segments_; }

    bool isRunning() const override { return running_; }
    bool start() override { return running_ = true; }
    void connectPlayer(const AudioFileFormat&) override { discardSegment(); }
    void installTap(MeterTap tap) override { tap_ = std::move(tap); }
    void removeTap() override { tap_ = {}; }
    bool isPlaying() const override { return playing_; }
    void pause() override { playing_ = false; }

    void scheduleSegment(const AudioSegment& segment, SegmentCompletion completion) override
    {
        segments_.push_back(segment);
        segment_ = segment;
        completion_ = std::move(completion);
        played_ = rendered_ = 0;
        playedBack_ = false;
        started_ = playing_;
    }

    void replaceCompletion(SegmentCompletion completion) override
    {
        if (segment_ && playedBack_ && completion) {
            completion(SegmentEnd{SegmentEnd::Kind::endOfStream, played_});
        } else if (segment_) {
            completion_ = std::move(completion);
        }
    }

    void play() override
    {
        if (running_ && segment_) {
            playing_ = started_ = true;
        }
    }

    void stop() override { discardSegment(); }

    std::optional<std::int64_t> playerSampleTime() const override
    {
        return running_ && segment_ && started_ ? std::optional(played_) : std::nullopt;
    }

    // Decoding reaches the end of the stream together with the ear.
    std::optional<std::int64_t> decodedSegmentLength() const override
    {
        if (!segment_ || !started_ || played_ < segmentFrames()) {
            return std::nullopt;
        }
        return segmentFrames();
    }

private:
    Stream stream() const
    {
        const auto found = streams_.find(segment_->file.string());
        return found == streams_.end() ? Stream{} : found->second;
    }
    std::int64_t segmentFrames() const
    {
        return std::max<std::int64_t>(0, stream().lengthFrames - segment_->startFrame);
    }

    void discardSegment()
    {
        segment_.reset();
        completion_ = {};
        playing_ = started_ = playedBack_ = false;
        played_ = rendered_ = 0;
    }

    bool running_ = false;
    bool playing_ = false;
    bool started_ = false; // the current segment has begun to play
    bool playedBack_ = false;
    std::optional<AudioSegment> segment_;
    std::int64_t played_ = 0;
    std::int64_t rendered_ = 0;
    std::map<std::string, Stream> streams_;
    SegmentCompletion completion_;
    MeterTap tap_;
    std::vector<AudioSegment> segments_;
};

} // namespace ferrylantern::test
