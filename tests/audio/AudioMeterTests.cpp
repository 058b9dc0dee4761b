#include "audio/AudioMeter.h"
#include "audio/AudioMeterTimeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace ferrylantern {
namespace {

TEST(PeakToDBFS, LimitsLevelsToMinus80Through0)
{
    const std::pair<float, float> rows[] = {
        {0.0f, -80.0f},   {1e-7f, -80.0f},  {1.5e-7f, -80.0f}, // 20·log10(1.5e-7) is below −80
        {0.001f, -60.0f}, {0.5f, -6.0206f}, {1.0f, 0.0f},      {1.5f, 0.0f}, {32768.0f / 32767.0f, 0.0f}, {NAN, -80.0f},
    };
    for (const auto& [peak, dbfs] : rows) {
        SCOPED_TRACE(peak);
        EXPECT_NEAR(peakToDBFS(peak), dbfs, 1e-4f);
    }
}

TEST(AudioMeterTimeline, KeepsTheLoudestSampleOfEachBlockOfTheFirstTwoChannels)
{
    struct Row
    {
        const char* name;
        std::vector<float> samples;
        int channels;
        AudioMeterLevels expected;
    };
    const Row rows[] = {
        {"silence", {0, 0, 0, 0}, 2, {-80, -80}},
        {"full scale, negative", {-1.0f, 0.001f, 0.5f, 0}, 2, {0, -60}},
        {"negative on the right", {0.001f, -1.0f}, 2, {-60, 0}},
        {"above full scale", {2.0f, 3.0f}, 2, {0, 0}},
        {"mono meters both sides", {0.001f, -0.001f}, 1, {-60, -60}},
        {"third channel ignored", {0.001f, 0.001f, 1.0f}, 3, {-60, -60}},
        {"empty buffer", {}, 2, {-80, -80}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        AudioMeterTimeline timeline;
        const auto frames = static_cast<std::int64_t>(row.samples.size()) / row.channels;
        timeline.add(row.samples.data(), frames, row.channels, 0);
        const AudioMeterLevels levels = timeline.levelsBetween(0, 0);
        EXPECT_NEAR(levels.leftPeakDBFS, row.expected.leftPeakDBFS, 1e-4f);
        EXPECT_NEAR(levels.rightPeakDBFS, row.expected.rightPeakDBFS, 1e-4f);
    }
}

} // namespace
} // namespace ferrylantern
