#include "audio/AudioDecoder.h"
#include "tests/audio/AudioTestFiles.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ferrylantern {
namespace {

using test::generatedAudio;
using test::TemporaryFolder;

struct Decoded
{
    std::vector<float> samples;
    int channels = 0;
    DecoderStatus status = DecoderStatus::reading;
};

Decoded decodeFrom(const std::filesystem::path& path, std::int64_t startFrame,
                   DecodedChannels channels = DecodedChannels::atMostStereo)
{
    Decoded decoded;
    auto decoder = AudioDecoder::open(AudioContainer::open(path), DecodedSampleType::float32, channels);
    if (!decoder) {
        return decoded;
    }
    decoder->startAtFrame(startFrame);
    while (const DecodedChunk* chunk = decoder->nextChunk()) {
        const auto* first = static_cast<const float*>(chunk->data);
        decoded.samples.insert(decoded.samples.end(), first, first + chunk->frameCount * chunk->channelCount);
        decoded.channels = chunk->channelCount;
    }
    decoded.status = decoder->status();
    return decoded;
}

TEST(AudioDecoder, StartsExactlyAtTheRequestedFrame)
{
    TemporaryFolder folder;
    const auto wav = folder.path() / "tone.wav";
    test::writeWav(wav, 44100, 2, test::sineFrames(3 * 44100, 44100, {0.5, 0.25}, 441.0));
    struct Row
    {
        const char* name;
        std::filesystem::path path;
        float tolerance; // lossy decoders settle after a seek; a frame off would differ by about 0.01
    };
    const Row files[] = {
        {"WAV", wav, 0.0f},
        {"FLAC", generatedAudio("stereo-96k-24bit.flac"), 0.0f},
        {"MP3", generatedAudio("stereo-48k-320k.mp3"), 1e-3f},
        {"Opus", generatedAudio("stereo-48k.ogg"), 1e-3f},
    };
    for (const Row& file : files) {
        const Decoded whole = decodeFrom(file.path, 0);
        ASSERT_EQ(whole.channels, 2) << file.name;
        for (const std::int64_t start : {1, 1000, 44101, 70000}) {
            SCOPED_TRACE(std::string(file.name) + " from frame " + std::to_string(start));
            const Decoded part = decodeFrom(file.path, start);
            const auto offset = static_cast<std::size_t>(start * 2);
            ASSERT_EQ(part.samples.size(), whole.samples.size() - offset);
            float difference = 0;
            for (std::size_t i = 0; i < part.samples.size(); ++i) {
                difference = std::max(difference, std::fabs(part.samples[i] - whole.samples[offset + i]));
            }
            EXPECT_LE(difference, file.tolerance);
        }
    }
}

TEST(AudioDecoder, MixesSurroundDownToStereoForPlaybackOnly)
{
    TemporaryFolder folder;
    const auto path = folder.path() / "surround.wav";
    test::writeWav(path, 48000, 6, test::sineFrames(4800, 48000, {0.5, 0.5, 0.5, 0.5, 0.5, 0.5}));
    EXPECT_EQ(decodeFrom(path, 0, DecodedChannels::atMostStereo).channels, 2);
    EXPECT_EQ(decodeFrom(path, 0, DecodedChannels::asInFile).channels, 6);
}

TEST(AudioDecoder, ReportsWhetherDecodingReachedTheEnd)
{
    TemporaryFolder folder;
    const auto wav = folder.path() / "tone.wav";
    test::writeWav(wav, 8000, 1, test::sineFrames(8000, 8000, {0.5}));
    EXPECT_EQ(decodeFrom(wav, 0).status, DecoderStatus::completed);
    const Decoded truncated = decodeFrom(generatedAudio("truncated.flac"), 0);
    EXPECT_EQ(truncated.status, DecoderStatus::failed);
    EXPECT_FALSE(truncated.samples.empty()); // chunks before the failure were delivered
}

} // namespace
} // namespace ferrylantern
