#include "tests/ui/ViewTestSupport.h"
#include "ui/AudioStereoDBFSMeterView.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

namespace ferrylantern {
namespace {

TEST(MeterScale, MapsLevelsToTheLitShareOfAColumn)
{
    EXPECT_EQ(meter::litFraction(-80), 0.0f);
    EXPECT_EQ(meter::litFraction(-60), 0.0f);
    EXPECT_FLOAT_EQ(meter::litFraction(-30), 0.5f);
    EXPECT_FLOAT_EQ(meter::litFraction(-6), 0.9f);
    EXPECT_EQ(meter::litFraction(0), 1.0f);
    EXPECT_EQ(meter::litFraction(3), 1.0f);
    EXPECT_EQ(meter::litFraction(std::nanf("")), 0.0f);
    EXPECT_EQ(meter::litHeight(-80, 88), 0);
    EXPECT_NEAR(meter::litHeight(-6, 88), 79.2, 1e-4);
}

TEST(MeterScale, PlacesTheMinusSixTickExactlyWhereMinusSixDBFSEnds)
{
    EXPECT_NEAR(meter::tickOffset(-6, 88), meter::litHeight(-6, 88), 1e-4);
    EXPECT_NEAR(meter::tickOffset(0, 88), 88, 1e-9);
    EXPECT_NEAR(meter::tickOffset(-48, 100), 20, 1e-9);
}

TEST(MeterLayout, IsTwelveWideForMonoAndTwentyOneForStereo)
{
    EXPECT_EQ(meter::meterWidth(true), 12);
    EXPECT_EQ(meter::meterWidth(false), 21);

    AudioStereoDBFSMeterView view;
    view.setMeterHeight(64);
    view.setMono(true);
    EXPECT_EQ(view.size(), QSize(12, 64));
    view.setMono(false);
    view.setMeterHeight(88);
    EXPECT_EQ(view.size(), QSize(21, 88));

    // Two 2-point margins and, for stereo, a 1-point divider between the 8-point columns.
    const auto columns = meter::columnRects(false, QSizeF(21, 88));
    EXPECT_EQ(columns[0], QRectF(2, 0, 8, 88));
    EXPECT_EQ(columns[1], QRectF(11, 0, 8, 88));
    EXPECT_EQ(meter::columnRects(true, QSizeF(12, 64))[0], QRectF(2, 0, 8, 64));
}

// Rows of the column through x that differ from the same meter at silence: the lit rows.
int litRows(const QImage& lit, const QImage& silent, int x)
{
    int rows = 0;
    for (int y = 0; y < lit.height(); ++y) {
        rows += lit.pixel(x, y) != silent.pixel(x, y) ? 1 : 0;
    }
    return rows;
}

TEST(MeterPixels, LightTheShareOfTheColumnThatTheLevelStandsFor)
{
    constexpr int height = 100;
    AudioStereoDBFSMeterView meter;
    meter.setMono(false);
    meter.setMeterHeight(height);
    meter.setColors(QColor(0, 0, 0, 20), Qt::white);
    meter.setLevels(-80, -80);
    const QImage silent = test::render(meter);
    const auto columns = meter::columnRects(false, meter.size());
    const int leftX = static_cast<int>(columns[0].center().x());
    const int rightX = static_cast<int>(columns[1].center().x());

    const struct
    {
        float level;
        int rows;
    } cases[] = {{-80, 0}, {-30, 50}, {-6, 90}, {3, 100}};
    for (const auto& expected : cases) {
        // The right column stays silent, so nothing leaks from one column into the other.
        meter.setLevels(expected.level, -80);
        const QImage image = test::render(meter);
        EXPECT_NEAR(litRows(image, silent, leftX), expected.rows, 1) << expected.level << " dBFS";
        EXPECT_EQ(litRows(image, silent, rightX), 0) << expected.level << " dBFS";
    }
}

TEST(MeterPixels, ShowsTheLowEndGreenAndTheTopRed)
{
    AudioStereoDBFSMeterView meter;
    meter.setMono(true);
    meter.setMeterHeight(100);
    meter.setColors(QColor(0, 0, 0, 20), Qt::white);
    meter.setLevels(0, 0);
    const QImage image = test::render(meter);
    const QColor bottom = image.pixelColor(6, 97);
    const QColor top = image.pixelColor(6, 3);
    EXPECT_GT(bottom.green(), bottom.red());
    EXPECT_GT(top.red(), top.green());
}

TEST(MeterPeakHold, HoldsTheHighestLevelForAMomentThenSinks)
{
    using namespace std::chrono_literals;
    const meter::Clock::time_point start{};
    meter::PeakHold hold;
    EXPECT_EQ(hold.heldLevel(start), -80);

    hold.update(-12, start);
    hold.update(-30, start + 100ms); // lower levels leave the mark where it is
    struct Row
    {
        std::chrono::milliseconds after;
        float level;
    };
    const Row rows[] = {
        {0ms, -12}, {1500ms, -12}, {2000ms, -22}, {3000ms, -42}, {10000ms, -80},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.after.count());
        EXPECT_NEAR(hold.heldLevel(start + row.after), row.level, 1e-4);
    }
    // A level above the sinking mark lifts it and holds again.
    hold.update(-20, start + 2500ms);
    EXPECT_EQ(hold.heldLevel(start + 3900ms), -20);
    EXPECT_TRUE(hold.isMoving(-60, start + 3900ms));
    EXPECT_FALSE(hold.isMoving(-20, start + 3900ms)) << "the mark sits on the level itself";
    EXPECT_FALSE(hold.isMoving(-80, start + 20s)) << "sunk below the display floor";
}

TEST(MeterPeakHold, MarksAFullScaleSampleForAWhile)
{
    using namespace std::chrono_literals;
    const meter::Clock::time_point start{};
    meter::PeakHold hold;
    hold.update(-0.01f, start);
    EXPECT_FALSE(hold.isClipping(start)) << "a hundredth of a decibel below full scale is no clip";
    hold.update(-0.0003f, start + 1s); // 32767/32768, the loudest positive 16-bit sample
    EXPECT_TRUE(hold.isClipping(start + 1s));
    hold.update(-40, start + 2s);
    EXPECT_TRUE(hold.isClipping(start + 3900ms)) << "it stays after the level falls";
    EXPECT_TRUE(hold.isMoving(-40, start + 3900ms));
    EXPECT_FALSE(hold.isClipping(start + 4s));
}

TEST(MeterPeakHold, PlacesTheMarksInsideTheColumn)
{
    const QRectF column(2, 0, 8, 100);
    EXPECT_EQ(meter::peakMarkRect(column, -30), QRectF(2, 50, 8, 1));
    EXPECT_EQ(meter::peakMarkRect(column, 0), QRectF(2, 0, 8, 1));
    EXPECT_TRUE(meter::peakMarkRect(column, -60).isEmpty());
    EXPECT_TRUE(meter::peakMarkRect(column, -80).isEmpty());
    EXPECT_EQ(meter::clipMarkRect(column), QRectF(2, 0, 8, 3));
}

TEST(MeterPixels, ShowThePeakMarkAboveTheFallingLevelAndTheClipMarkAtTheTop)
{
    using namespace std::chrono_literals;
    meter::Clock::time_point now{};
    AudioStereoDBFSMeterView meter;
    meter.setClock([&now] { return now; });
    meter.setMono(true);
    meter.setMeterHeight(100);
    meter.setColors(QColor(0, 0, 0, 20), Qt::white);
    meter.setLevels(-80, -80);
    const QImage silent = test::render(meter);
    const int x = static_cast<int>(meter::columnRects(true, meter.size())[0].center().x());

    meter.setLevels(-12, -12);
    now += 100ms;
    meter.setLevels(-40, -40);
    const QImage held = test::render(meter);
    EXPECT_NE(held.pixel(x, 20), silent.pixel(x, 20)) << "the peak mark, at -12 dBFS";
    EXPECT_EQ(held.pixel(x, 40), silent.pixel(x, 40)) << "between the mark and the level, nothing lit";
    EXPECT_NE(held.pixel(x, 80), silent.pixel(x, 80)) << "the level itself";
    EXPECT_EQ(held.pixel(x, 1), silent.pixel(x, 1)) << "no clip mark";

    meter.setLevels(0, 0); // a full-scale sample
    now += 100ms;
    meter.setLevels(-40, -40);
    const QColor clip = test::render(meter).pixelColor(x, 1);
    EXPECT_GT(clip.red(), 200);
    EXPECT_LT(clip.green(), 100);

    now += 10s;
    meter.setLevels(-80, -80);
    const QImage later = test::render(meter);
    EXPECT_EQ(later, silent) << "both marks are gone";
}

} // namespace
} // namespace ferrylantern
