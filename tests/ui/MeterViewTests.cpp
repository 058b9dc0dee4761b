// The level meter drawn into images: how much of a column a level lights, its colours, and the peak and
// clip marks over an injected clock.
#include "tests/ui/ViewTestSupport.h"
#include "ui/AudioStereoDBFSMeterView.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

namespace ferrylantern {
namespace {

using namespace std::chrono_literals;

// Rows of the column through x that differ from the same meter at silence: the lit rows.
int litRows(const QImage& lit, const QImage& silent, int x)
{
    int rows = 0;
    for (int y = 0; y < lit.height(); ++y) {
        rows += lit.pixel(x, y) != silent.pixel(x, y) ? 1 : 0;
    }
    return rows;
}

// A stereo meter 100 points high whose colours make every lit pixel differ from an unlit one, on a clock the
// test moves: its levels, then the peak and clip marks over the left column.
TEST(MeterPixels, LightTheLevelsShareGreenBelowRedAboveUnderAPeakMarkAndAClipMark)
{
    meter::Clock::time_point now{};
    AudioStereoDBFSMeterView meter;
    meter.setClock([&now] { return now; });
    meter.setMono(false);
    meter.setMeterHeight(100);
    meter.setColors(QColor(0, 0, 0, 20), Qt::white);
    meter.setLevels(-80, -80);
    const QImage silent = test::render(meter);
    const auto columns = meter::columnRects(false, meter.size());
    const int x = static_cast<int>(columns[0].center().x());
    const int rightX = static_cast<int>(columns[1].center().x());

    const struct
    {
        float level;
        int rows;
    } cases[] = {{-80, 0}, {std::nanf(""), 0}, {-30, 50}, {-6, 90}, {3, 100}};
    for (const auto& expected : cases) {
        // The right column stays silent, so nothing leaks from one column into the other.
        meter.setLevels(expected.level, -80);
        const QImage image = test::render(meter);
        EXPECT_NEAR(litRows(image, silent, x), expected.rows, 1) << expected.level << " dBFS";
        EXPECT_EQ(litRows(image, silent, rightX), 0) << expected.level << " dBFS";
    }
    const QImage full = test::render(meter);
    EXPECT_GT(full.pixelColor(x, 97).green(), full.pixelColor(x, 97).red());
    EXPECT_GT(full.pixelColor(x, 3).red(), full.pixelColor(x, 3).green());

    now += 10s;
    meter.setLevels(-12, -80);
    now += 100ms;
    meter.setLevels(-40, -80);
    const QImage held = test::render(meter);
    EXPECT_NE(held.pixel(x, 20), silent.pixel(x, 20)) << "the peak mark, at -12 dBFS";
    EXPECT_EQ(held.pixel(x, 40), silent.pixel(x, 40)) << "between the mark and the level, nothing lit";
    EXPECT_NE(held.pixel(x, 80), silent.pixel(x, 80)) << "the level itself";
    EXPECT_EQ(held.pixel(x, 1), silent.pixel(x, 1)) << "no clip mark";

    meter.setLevels(-0.0003f, -80); // 32767/32768, the loudest positive 16-bit sample
    now += 100ms;
    meter.setLevels(-40, -80);
    const QColor clip = test::render(meter).pixelColor(x, 1);
    EXPECT_GT(clip.red(), 200);
    EXPECT_LT(clip.green(), 100);

    now += 10s;
    meter.setLevels(-80, -80);
    EXPECT_EQ(test::render(meter), silent) << "both marks are gone";
}

} // namespace
} // namespace ferrylantern
