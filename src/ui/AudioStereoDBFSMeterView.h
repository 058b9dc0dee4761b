// The small vertical level meter beside a waveform: one column for a mono file, left and right columns
// for a stereo one, each lit from the bottom up to its peak level on a dBFS scale, over a faint colour
// scale from green through yellow to red, with tick lines at −48, −24, −12, −6 and 0 dBFS.
//
// The lit part shows exactly the last levels set (the playback controller's meter tick sets them 120
// times a second), unsmoothed. Above it a thin mark holds each column's highest level for a moment and
// then sinks, and a mark at the top of the column stays lit for a while after a sample at full scale.
//
// GUI thread only (a widget). The numbers it draws come from the plain functions below.
#pragma once

#include <QColor>
#include <QLinearGradient>
#include <QRectF>
#include <QTimer>
#include <QWidget>

#include <array>
#include <chrono>
#include <functional>

namespace ferrylantern {

namespace meter {

inline constexpr float displayFloorDBFS = -60.0f; // shown as an empty column
inline constexpr float displayCeilDBFS = 0.0f;    // shown as a full column
inline constexpr qreal channelWidth = 8;
inline constexpr qreal margin = 2;       // around the columns, each side
inline constexpr qreal dividerWidth = 1; // between the columns of a stereo meter
inline constexpr std::array<double, 5> tickLevels{-48, -24, -12, -6, 0};

// The lit fraction of a column for `levelDBFS`: the level clamped to floor...ceil, as a share of that
// range (32-bit arithmetic). A NaN level counts as the floor.
float litFraction(float levelDBFS, float floorDBFS = displayFloorDBFS, float ceilDBFS = displayCeilDBFS);

// The lit height of a column of `columnHeight`; never negative.
qreal litHeight(float levelDBFS, qreal columnHeight, float floorDBFS = displayFloorDBFS,
                float ceilDBFS = displayCeilDBFS);

// How far above the column's bottom the tick of `tickDBFS` sits.
qreal tickOffset(double tickDBFS, qreal columnHeight, float floorDBFS = displayFloorDBFS,
                 float ceilDBFS = displayCeilDBFS);

// The meter's width: channelWidth + 4 for mono (12), 2 × channelWidth + 5 for stereo (21).
qreal meterWidth(bool isMono, qreal channelWidth = meter::channelWidth);

// The columns of a meter of `size`, left first; the content is centred horizontally.
std::array<QRectF, 2> columnRects(bool isMono, QSizeF size, qreal channelWidth = meter::channelWidth);

// The six-stop level gradient from the bottom (green) to the top (red) of `column`.
QLinearGradient levelGradient(const QRectF& column);

using Clock = std::chrono::steady_clock;

inline constexpr std::chrono::milliseconds peakHoldTime{1500}; // the peak mark stays this long...
inline constexpr float peakFallDBPerSecond = 20.0f;            // ...then sinks this fast
inline constexpr std::chrono::milliseconds clipHoldTime{3000}; // the clip mark stays lit this long
// Levels from here up count as a sample at full scale: the largest positive 16-bit sample, 32767/32768,
// is −0.0003 dBFS (the levels themselves never exceed 0).
inline constexpr float clipLevelDBFS = -0.001f;
inline constexpr qreal peakMarkHeight = 1;
inline constexpr qreal clipMarkHeight = 3;

// One column's marks, fed every level the column shows. Thread-compatible; a plain value.
class PeakHold
{
public:
    // A level at or above the mark lifts it at once and starts its hold; a level at full scale lights
    // the clip mark.
    void update(float levelDBFS, Clock::time_point now);
    // The mark's level: the peak while held, then lower by peakFallDBPerSecond, never below −80.
    float heldLevel(Clock::time_point now) const;
    bool isClipping(Clock::time_point now) const;
    // Whether the marks still move or show without new levels (the view repaints until they do not).
    bool isMoving(float currentLevelDBFS, Clock::time_point now) const;

private:
    float peakDBFS_ = -80;
    Clock::time_point peakAt_{};
    Clock::time_point clippedAt_{};
    bool hasClipped_ = false;
};

// The peak mark of `column`: peakMarkHeight high with its top at the held level's height, kept inside the
// column; empty when the level is at or below the display floor.
QRectF peakMarkRect(const QRectF& column, float heldLevelDBFS);
// The clip mark: the top clipMarkHeight of the column.
QRectF clipMarkRect(const QRectF& column);

} // namespace meter

class AudioStereoDBFSMeterView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AudioStereoDBFSMeterView)

public:
    explicit AudioStereoDBFSMeterView(QWidget* parent = nullptr);

    bool isMono() const { return isMono_; }
    void setMono(bool mono);

    float leftDBFS() const { return leftDBFS_; }
    float rightDBFS() const { return rightDBFS_; }
    void setLevels(float leftDBFS, float rightDBFS);

    // The height of the meter and of each column; the width follows from isMono.
    void setMeterHeight(int height);

    // Border, divider, track and ticks; fill behind the columns.
    void setColors(const QColor& borderColor, const QColor& backgroundColor);

    // The marks' clock; tests set one they move by hand.
    void setClock(std::function<meter::Clock::time_point()> clock) { clock_ = std::move(clock); }
    // The marks as they are shown now, left column first.
    float heldLevel(int column) const;
    bool isClipping(int column) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void updateSize();
    void animateMarks();

    bool isMono_ = false;
    float leftDBFS_ = -80;
    float rightDBFS_ = -80;
    std::array<meter::PeakHold, 2> marks_;
    std::function<meter::Clock::time_point()> clock_ = [] { return meter::Clock::now(); };
    QTimer markAnimation_; // repaints while a mark moves without new levels
    int meterHeight_ = 88;
    QColor borderColor_{0, 0, 0, 20};
    QColor backgroundColor_{Qt::white};
};

} // namespace ferrylantern
