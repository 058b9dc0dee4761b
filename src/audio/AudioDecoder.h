// Decodes the first audio track of a file into interleaved PCM chunks, at the file's own sample rate.
//
// Thread-compatible: one thread at a time per object (the waveform extraction runs one on a pool
// thread, playback one on its decoder thread). Nothing here throws.
//
//     auto decoder = AudioDecoder::open(AudioContainer::open(path), DecodedSampleType::int16);
//     while (const DecodedChunk* chunk = decoder->nextChunk()) { ... }
//     bool whole = decoder->status() == DecoderStatus::completed;
#pragma once

#include "audio/AudioContainer.h"

#include <cstdint>
#include <memory>

namespace ferrylantern {

enum class DecodedSampleType
{
    int16,   // signed 16-bit, native (little-endian) byte order
    float32, // 32-bit float, full scale ±1
};

enum class DecodedChannels
{
    // Every channel of the track, in the track's order.
    asInFile,
    // Mono stays mono; anything wider is mixed down to two channels by FFmpeg's resampler with its matrix
    // scaled so that no output sample can pass full scale.
    atMostStereo,
};

enum class DecoderStatus
{
    reading,
    // The demuxer reached the end of the file, and decoding went on after every damaged packet (a
    // decoding error followed by decoded audio: the decoder resynchronised, the damage was skipped).
    completed,
    // A read error, a failed conversion, or damage nothing decodable follows: the stream cannot go on
    // from there. Chunks delivered before it were real.
    failed,
};

// One decoded run of frames. The bytes belong to the decoder and stay valid until the next call.
struct DecodedChunk
{
    const void* data = nullptr; // interleaved, channel by channel within each frame
    std::int64_t byteCount = 0;
    std::int64_t frameCount = 0;
    int sampleRate = 0;
    int channelCount = 0;
};

class AudioDecoder
{
public:
    // Opens a decoder for the container's first audio track; nothing when the container is absent, has
    // no audio track or no decoder exists for it.
    static std::unique_ptr<AudioDecoder> open(std::unique_ptr<AudioContainer> container, DecodedSampleType type,
                                              DecodedChannels channels = DecodedChannels::asInFile);

    ~AudioDecoder();
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    const AudioContainer& container() const;

    // Makes the first delivered frame the one at `frame` (counted from the track's first frame at its
    // own rate), so playback can start anywhere with frame accuracy. Call before the first nextChunk().
    // Frames before it are decoded and dropped when the container cannot seek there exactly.
    void startAtFrame(std::int64_t frame);

    // The next chunk, or nullptr at the end of the track or on a failure (see status()).
    const DecodedChunk* nextChunk();

    DecoderStatus status() const;

private:
    struct Impl;
    explicit AudioDecoder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace ferrylantern
