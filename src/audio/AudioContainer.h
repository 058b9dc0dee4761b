// An audio file opened by its container (FFmpeg's demuxer): its first audio track and its duration.
// The decoder (AudioDecoder.h) reads the track; the format probe reads the track's description.
//
// Thread-compatible: one thread at a time per object. Opening, reading and closing never throw.
//
//     auto container = AudioContainer::open("/tmp/song.mp3");
//     double seconds = container ? container->durationSeconds() : NaN;
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

struct AVFormatContext;

namespace ferrylantern {

// What the container says about an audio track, before any decoding.
struct AudioTrackInfo
{
    int sampleRate = 0;   // Hz; 0 when the track does not say
    int channelCount = 0; // 0 when the track does not say
    // Bits per sample of the stored stream (the raw sample size when known, else the coded one); 0 when
    // the track does not say.
    int bitsPerChannel = 0;
    std::int64_t bitRate = 0; // bits per second as the track declares it; 0 when unknown
    // PCM or a lossless codec (FLAC, ALAC...): the stored samples have a bit depth worth showing. Lossy
    // codecs (MPEG audio, AAC, Opus, ADPCM...) have none, whatever size their coded samples are.
    bool hasBitDepth = false;
};

// The length of a file in frames at its own rate, as playback needs it.
struct AudioFileFormat
{
    double sampleRate = 0;
    int channelCount = 0;
    std::int64_t lengthFrames = 0;

    friend bool operator==(const AudioFileFormat&, const AudioFileFormat&) = default;
};

class AudioContainer
{
public:
    // Opens `path` and reads its stream information; nothing when it is not a media file FFmpeg reads.
    static std::unique_ptr<AudioContainer> open(const std::filesystem::path& path);

    ~AudioContainer();
    AudioContainer(const AudioContainer&) = delete;
    AudioContainer& operator=(const AudioContainer&) = delete;

    // Index of the first audio stream in file order, or -1 when the file has none.
    int audioStreamIndex() const { return audioStreamIndex_; }
    std::optional<AudioTrackInfo> firstAudioTrack() const;

    // The duration in seconds: the audio track's own when it states one, else the container's; NaN when
    // neither is known. May be 0 or negative for damaged files; callers check.
    double durationSeconds() const;

    // Whether that duration is only an estimate from the bit rate and the file size (an MP3 with a
    // variable bit rate and no frame count in its header): then only decoding to the end tells the length.
    bool isDurationEstimated() const;

    // For the decoder only.
    AVFormatContext* formatContext() const { return context_; }

private:
    explicit AudioContainer(AVFormatContext* context);

    AVFormatContext* context_; // owned
    int audioStreamIndex_ = -1;
};

// The sample rate, channel count and length in frames (duration × rate, rounded) of `path`'s first
// audio track; nothing when the file cannot be opened or has no audio track. Values are reported as
// the file states them; callers decide what counts as playable.
std::optional<AudioFileFormat> readAudioFileFormat(const std::filesystem::path& path);

} // namespace ferrylantern
