#include "tests/ui/ViewTestSupport.h"
#include "ui/AudioStereoDBFSMeterView.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace ferrylantern
