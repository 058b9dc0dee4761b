#include "audio/AudioFormatProbe.h"
#include "audio/PlaybackSegmentSource.h"
#include "audio/WaveformExtraction.h"
#include "tests/audio/AudioTestFiles.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace ferrylantern {
namespace {

using test::generatedAudio;
using test::TemporaryFolder;

// What playback reads of a file from `startFrame`: the real source, read as the output device reads it.
struct Played
{
    std::vector<float> samples; // mixed to at most two channels
    int channels = 0;
    std::optional<SegmentEnd::Kind> ending;
    std::optional<std::int64_t> decodedLength;
};

Played playFrom(const std::filesystem::path& path, std::int64_t startFrame = 0)
{
    Played played;
    const auto format = readAudioFileFormat(path);
    if (!format) {
        ADD_FAILURE() << "cannot open " << path;
        return played;
    }
    played.channels = format->channelCount == 1 ? 1 : 2;
    PlaybackSegmentSource source(AudioSegment{path, startFrame}, static_cast<int>(format->sampleRate), played.channels);
    std::vector<float> buffer(8192);
    const bool exhausted = test::eventually(
        [&] {
            while (const qint64 bytes = source.read(reinterpret_cast<char*>(buffer.data()),
                                                    static_cast<qint64>(buffer.size() * sizeof(float)))) {
                played.samples.insert(played.samples.end(), buffer.begin(),
                                      buffer.begin() + static_cast<std::ptrdiff_t>(bytes / sizeof(float)));
            }
            return source.isExhausted();
        },
        std::chrono::seconds(20));
    EXPECT_TRUE(exhausted);
    played.ending = source.ending();
    played.decodedLength = source.decodedLength();
    return played;
}

TEST(PlaybackSource, StartsExactlyAtTheRequestedFrame)
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
        const Played whole = playFrom(file.path);
        ASSERT_EQ(whole.channels, 2) << file.name;
        for (const std::int64_t start : {1, 1000, 44101, 70000}) {
            SCOPED_TRACE(std::string(file.name) + " from frame " + std::to_string(start));
            const Played part = playFrom(file.path, start);
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

TEST(GeneratedAudio, EveryKindOfFileReadsAndPlaysAsItShould)
{
    using Kind = SegmentEnd::Kind;
    struct Row
    {
        const char* file;
        double statedSeconds; // the container's duration, or its estimate
        const char* caption;
        double playedSeconds; // what playback decodes, to the real end of the stream or where it broke off
        Kind ending;
        float peak; // after the mix to at most two channels
        bool hasWaveform;
    };
    const Row rows[] = {
        {"stereo-44k-s16.wav", 2.0, "44.1 kHz · 16-bit", 2.0, Kind::endOfStream, 0.0884f, true},
        {"stereo-48k-s24.wav", 2.0, "48 kHz · 24-bit", 2.0, Kind::endOfStream, 0.0884f, true},
        {"mono-22k.wav", 2.0, "22.1 kHz · 16-bit", 2.0, Kind::endOfStream, 0.125f, true},
        // Mixed down with a normalised matrix: full scale at most, where the plain matrix gives +7.7 dBFS.
        {"surround-full-scale.wav", 2.0, "48 kHz · 16-bit", 2.0, Kind::endOfStream, 1.0f, true},
        {"stereo-48k-320k.mp3", 2.04, "48 kHz · 320 kbps", 2.0, Kind::endOfStream, 0.0884f, true},
        {"vbr-xing.mp3", 3.0302, "44.1 kHz · 40 kbps", 3.0, Kind::endOfStream, 0.6852f, true},
        // The estimate falls half a second short; playback goes on to the real end.
        {"vbr-no-xing.mp3", 2.4661, "44.1 kHz · 49 kbps", 3.0302, Kind::endOfStream, 0.6852f, true},
        {"stereo-44k.m4a", 2.0, "44.1 kHz · 128 kbps", 2.0201, Kind::endOfStream, 0.0923f, true},
        {"stereo-96k-24bit.flac", 2.0, "96 kHz · 24-bit", 2.0, Kind::endOfStream, 0.0884f, true},
        {"stereo-48k.ogg", 2.0065, "48 kHz · 118 kbps", 2.0, Kind::endOfStream, 0.0895f, true},
        {"alac-44k.m4a", 2.0, "44.1 kHz · 16-bit", 2.0, Kind::endOfStream, 0.0884f, true},
        {"adpcm-ima-44k.wav", 2.0063, "44.1 kHz · 128 kbps", 2.0063, Kind::endOfStream, 0.0886f, true},
        // The damaged frame at the end is not followed by anything decodable.
        {"truncated.flac", 3.0, "44.1 kHz · 16-bit", 1.1494, Kind::cutShort, 0.0884f, false},
        // Every frame decodes, but the file ends six seconds before its header says.
        {"truncated.mp3", 8.0457, "44.1 kHz · 128 kbps", 1.9864, Kind::cutShort, 0.0843f, true},
        // The decoder skips the noise and finds its footing again: a little is lost, the rest plays.
        {"garbage-middle.mp3", 4.049, "44.1 kHz · 128 kbps", 3.8933, Kind::endOfStream, 0.1116f, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        const auto path = generatedAudio(row.file);
        const auto format = readAudioFileFormat(path);
        ASSERT_TRUE(format);
        EXPECT_NEAR(readDurationSeconds(path).value_or(0), row.statedSeconds, 5e-4);

        const auto probed = probeFormat(path, static_cast<std::int64_t>(std::filesystem::file_size(path)));
        ASSERT_TRUE(probed);
        EXPECT_EQ(captionText(*probed), QString::fromUtf8(row.caption));

        const Played played = playFrom(path);
        const auto frames = static_cast<std::int64_t>(played.samples.size()) / played.channels;
        EXPECT_NEAR(static_cast<double>(frames) / format->sampleRate, row.playedSeconds, 5e-4);
        EXPECT_EQ(played.ending, row.ending);
        // The length is reported exactly when decoding reached the real end.
        EXPECT_EQ(played.decodedLength, row.ending == Kind::endOfStream ? std::optional(frames) : std::nullopt);
        float peak = 0;
        for (const float sample : played.samples) {
            peak = std::max(peak, std::fabs(sample));
        }
        EXPECT_LE(peak, 1.0f);
        EXPECT_NEAR(peak, row.peak, 0.005f);

        EXPECT_EQ(extractStereoWaveform(path, 512, 24).has_value(), row.hasWaveform);
    }
}

} // namespace
} // namespace ferrylantern
