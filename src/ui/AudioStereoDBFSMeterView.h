// The small vertical level meter beside a waveform: one column for a mono file, left and right columns
// for a stereo one, each lit from the bottom up to its peak level on a dBFS scale, over a faint colour
// scale from green through yellow to red, with tick lines at −48, −24, −12, −6 and 0 dBFS.
//
// The view keeps no state besides the levels it is given and smooths nothing: it shows exactly the
// last levels set (the playback controller's meter tick sets them 120 times a second).
//
// GUI thread only (a widget). The numbers it draws come from the plain functions below.
#pragma once

#include <QColor>
#include <QLinearGradient>
#include <QRectF>
#include <QWidget>

#include <array>

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

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void updateSize();

    bool isMono_ = false;
    float leftDBFS_ = -80;
    float rightDBFS_ = -80;
    int meterHeight_ = 88;
    QColor borderColor_{0, 0, 0, 20};
    QColor backgroundColor_{Qt::white};
};

} // namespace ferrylantern
