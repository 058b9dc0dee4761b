#include "audio/WaveformExtraction.h"
#include "tests/audio/AudioTestFiles.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace ferrylantern {
namespace {

using test::generatedAudio;
using test::sineFrames;
using test::TemporaryFolder;
using test::writeWav;

constexpr int buckets = 512;
constexpr int framesPerBucket = 24;

float largest(const std::vector<float>& values)
{
    return values.empty() ? 0.0f : *std::max_element(values.begin(), values.end());
}

void addMono(StereoPeakAccumulator& accumulator, const std::vector<std::int16_t>& samples, double rate)
{
    accumulator.addChunk(samples.data(), static_cast<std::int64_t>(samples.size() * 2), rate, 1);
}

TEST(StereoPeakAccumulator, SkipsMalformedChunksWithoutCountingTheirFrames)
{
    const std::vector<std::int16_t> loud{0, 0, 0, 9000}; // T = 4 at 4 Hz: the loud frame is the last
    const std::vector<std::int16_t> junk(8, 5000);
    struct Row
    {
        const char* name;
        const std::int16_t* samples;
        std::int64_t bytes;
        double rate;
        unsigned channels;
    };
    const Row rows[] = {
        {"zero sample rate", junk.data(), 16, 0.0, 1},
        {"negative sample rate", junk.data(), 16, -44100.0, 1},
        {"no bytes", junk.data(), 0, 4.0, 1},
        {"no data", nullptr, 16, 4.0, 1},
        {"fewer samples than channels", junk.data(), 4, 4.0, 3},
    };
    StereoPeakAccumulator reference(buckets, framesPerBucket, 1.0);
    addMono(reference, loud, 4);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StereoPeakAccumulator accumulator(buckets, framesPerBucket, 1.0);
        accumulator.addChunk(row.samples, row.bytes, row.rate, row.channels);
        addMono(accumulator, loud, 4);
        EXPECT_EQ(accumulator.leftPeaks(), reference.leftPeaks());
    }
}

TEST(NormalizePeaks, DividesBothChannelsByTheirJointLargestValue)
{
    struct Row
    {
        const char* name;
        std::vector<float> left, right, expectedLeft, expectedRight;
    };
    const Row rows[] = {
        {"right is louder", {0.125f, 0.25f}, {0.5f, 0.25f}, {0.25f, 0.5f}, {1.0f, 0.5f}},
        {"left is louder", {0.5f, 0.25f}, {0.125f}, {1.0f, 0.5f}, {0.25f}},
        {"mono", {0.5f, 0.25f}, {}, {1.0f, 0.5f}, {}},
        {"silence stays as it is", {0.0f, 0.0f}, {0.0f}, {0.0f, 0.0f}, {0.0f}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto [left, right] = normalizePeaks(row.left, row.right);
        EXPECT_EQ(left, row.expectedLeft);
        EXPECT_EQ(right, row.expectedRight);
    }
}

// Compressed files are read by GeneratedAudio.EveryKindOfFileReadsAndPlaysAsItShould.
TEST(ExtractStereoWaveform, ReadsMonoStereoAndTheFrontChannelsOfSurround)
{
    TemporaryFolder folder;
    const auto wav = [&](const char* name, int rate, const std::vector<double>& amplitudes) {
        const auto path = folder.path() / name;
        writeWav(path, rate, static_cast<int>(amplitudes.size()), sineFrames(rate, rate, amplitudes));
        return path;
    };
    struct Row
    {
        const char* name;
        std::filesystem::path path;
        bool isMono;
        float rightLargest; // the left channel is the louder one in every row
        double seconds;
    };
    const Row rows[] = {
        {"mono", wav("mono.wav", 44100, {0.5}), true, 0.0f, 1.0},
        {"stereo", wav("stereo.wav", 44100, {0.8, 0.4}), false, 0.5f, 1.0},
        // Centre and surround channels are the loudest; only front left and right count.
        {"5.1", wav("surround.wav", 48000, {0.5, 0.25, 1.0, 0.9, 0.9, 0.9}), false, 0.5f, 1.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto result = extractStereoWaveform(row.path, buckets, framesPerBucket);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->samples.isMono, row.isMono);
        EXPECT_EQ(result->samples.left.size(), 512u);
        EXPECT_EQ(result->samples.right.size(), row.isMono ? 0u : 512u);
        EXPECT_EQ(largest(result->samples.left), 1.0f);
        EXPECT_NEAR(largest(result->samples.right), row.rightLargest, 0.01f);
        EXPECT_NEAR(result->durationSeconds, row.seconds, 0.05);
    }
}

TEST(ExtractStereoWaveform, GivesNothingForFilesWithoutAUsableWaveform)
{
    TemporaryFolder folder;
    const auto silence = folder.path() / "silence.wav";
    writeWav(silence, 44100, 2, std::vector<std::int16_t>(2 * 44100, 0));
    const auto leftSilent = folder.path() / "left-silent.wav";
    writeWav(leftSilent, 44100, 2, sineFrames(44100, 44100, {0.0, 0.7}));
    const auto noFrames = folder.path() / "no-frames.wav";
    writeWav(noFrames, 44100, 2, {});
    const auto text = folder.path() / "notes.wav";
    std::ofstream(text) << "these are not samples\n";

    const std::pair<const char*, std::filesystem::path> rows[] = {
        {"digital silence", silence},
        {"left channel silent", leftSilent},
        {"zero duration", noFrames},
        {"text named .wav", text},
        {"missing file", folder.path() / "missing.wav"},
    };
    for (const auto& [name, path] : rows) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(extractStereoWaveform(path, buckets, framesPerBucket));
    }
    EXPECT_FALSE(readDurationSeconds(noFrames));
}

} // namespace
} // namespace ferrylantern
