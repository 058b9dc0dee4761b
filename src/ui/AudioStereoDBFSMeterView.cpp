#include "ui/AudioStereoDBFSMeterView.h"

#include "audio/AudioMeter.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace ferrylantern {

namespace meter {

namespace {

constexpr qreal frameCornerRadius = 4;
constexpr qreal columnCornerRadius = 1;
constexpr qreal borderWidth = 1;
constexpr qreal dividerOpacity = 0.6;
constexpr qreal trackOpacity = 0.2;
constexpr qreal scaleOpacity = 0.22;
constexpr qreal tickOpacity = 0.35;
constexpr qreal tickHeight = 1;
constexpr std::chrono::milliseconds markAnimationInterval{1000 / 60};
const QColor clipColor = QColor::fromRgbF(1.0f, 0.18f, 0.14f);

struct GradientStop
{
    qreal location;
    float red;
    float green;
    float blue;
};

constexpr std::array<GradientStop, 6> gradientStops{{
    {0.00, 0.12f, 0.62f, 0.32f},
    {0.35, 0.22f, 0.78f, 0.36f},
    {0.55, 0.55f, 0.88f, 0.22f},
    {0.72, 0.98f, 0.82f, 0.18f},
    {0.86, 1.00f, 0.55f, 0.12f},
    {1.00, 0.95f, 0.28f, 0.24f},
}};

QColor withOpacity(QColor color, qreal opacity)
{
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

} // namespace

float litFraction(float levelDBFS, float floorDBFS, float ceilDBFS)
{
    if (std::isnan(levelDBFS) || !(ceilDBFS > floorDBFS)) {
        return 0.0f;
    }
    const float clamped = std::clamp(levelDBFS, floorDBFS, ceilDBFS);
    return (clamped - floorDBFS) / (ceilDBFS - floorDBFS);
}

qreal litHeight(float levelDBFS, qreal columnHeight, float floorDBFS, float ceilDBFS)
{
    return std::max<qreal>(0, litFraction(levelDBFS, floorDBFS, ceilDBFS) * columnHeight);
}

qreal tickOffset(double tickDBFS, qreal columnHeight, float floorDBFS, float ceilDBFS)
{
    return (tickDBFS - floorDBFS) / (ceilDBFS - floorDBFS) * columnHeight;
}

qreal meterWidth(bool isMono, qreal width)
{
    return isMono ? width + 2 * margin : 2 * width + 2 * margin + dividerWidth;
}

std::array<QRectF, 2> columnRects(bool isMono, QSizeF size, qreal width)
{
    const qreal contentWidth = meterWidth(isMono, width) - 2 * margin;
    const qreal left = (size.width() - contentWidth) / 2;
    const QRectF first(left, 0, width, size.height());
    if (isMono) {
        return {first, QRectF()};
    }
    return {first, QRectF(left + width + dividerWidth, 0, width, size.height())};
}

QLinearGradient levelGradient(const QRectF& column)
{
    QLinearGradient gradient(column.bottomLeft(), column.topLeft());
    for (const auto& stop : gradientStops) {
        gradient.setColorAt(stop.location, QColor::fromRgbF(stop.red, stop.green, stop.blue));
    }
    return gradient;
}

void PeakHold::update(float levelDBFS, Clock::time_point now)
{
    if (std::isnan(levelDBFS)) {
        return;
    }
    if (levelDBFS >= heldLevel(now)) {
        peakDBFS_ = levelDBFS;
        peakAt_ = now;
    }
    if (levelDBFS >= clipLevelDBFS) {
        clippedAt_ = now;
        hasClipped_ = true;
    }
}

float PeakHold::heldLevel(Clock::time_point now) const
{
    const auto sinking = now - peakAt_ - peakHoldTime;
    if (sinking <= Clock::duration::zero()) {
        return peakDBFS_;
    }
    const float fallen = peakFallDBPerSecond * std::chrono::duration<float>(sinking).count();
    return std::max(peakDBFS_ - fallen, meterFloorDBFS);
}

bool PeakHold::isClipping(Clock::time_point now) const
{
    return hasClipped_ && now - clippedAt_ < clipHoldTime;
}

bool PeakHold::isMoving(float currentLevelDBFS, Clock::time_point now) const
{
    return isClipping(now) || heldLevel(now) > std::max(currentLevelDBFS, displayFloorDBFS);
}

QRectF peakMarkRect(const QRectF& column, float heldLevelDBFS)
{
    const qreal lit = litHeight(heldLevelDBFS, column.height());
    if (!(lit > 0)) {
        return {};
    }
    const qreal top = std::clamp(column.bottom() - lit, column.top(), column.bottom() - peakMarkHeight);
    return {column.left(), top, column.width(), peakMarkHeight};
}

QRectF clipMarkRect(const QRectF& column)
{
    return {column.left(), column.top(), column.width(), std::min(clipMarkHeight, column.height())};
}

} // namespace meter

AudioStereoDBFSMeterView::AudioStereoDBFSMeterView(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("levelMeter"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    markAnimation_.setInterval(meter::markAnimationInterval);
    connect(&markAnimation_, &QTimer::timeout, this, &AudioStereoDBFSMeterView::animateMarks);
    updateSize();
}

float AudioStereoDBFSMeterView::heldLevel(int column) const
{
    return marks_.at(static_cast<std::size_t>(column)).heldLevel(clock_());
}

bool AudioStereoDBFSMeterView::isClipping(int column) const
{
    return marks_.at(static_cast<std::size_t>(column)).isClipping(clock_());
}

void AudioStereoDBFSMeterView::animateMarks()
{
    const auto now = clock_();
    update();
    if (!marks_[0].isMoving(leftDBFS_, now) && !marks_[1].isMoving(rightDBFS_, now)) {
        markAnimation_.stop();
    }
}

void AudioStereoDBFSMeterView::setMono(bool mono)
{
    if (mono != isMono_) {
        isMono_ = mono;
        updateSize();
        update();
    }
}

void AudioStereoDBFSMeterView::setLevels(float leftDBFS, float rightDBFS)
{
    const auto now = clock_();
    marks_[0].update(leftDBFS, now);
    marks_[1].update(rightDBFS, now);
    if (leftDBFS != leftDBFS_ || rightDBFS != rightDBFS_) {
        leftDBFS_ = leftDBFS;
        rightDBFS_ = rightDBFS;
        update();
    }
    if (!markAnimation_.isActive() && (marks_[0].isMoving(leftDBFS_, now) || marks_[1].isMoving(rightDBFS_, now))) {
        markAnimation_.start();
    }
}

void AudioStereoDBFSMeterView::setMeterHeight(int height)
{
    if (height != meterHeight_) {
        meterHeight_ = height;
        updateSize();
        update();
    }
}

void AudioStereoDBFSMeterView::setColors(const QColor& borderColor, const QColor& backgroundColor)
{
    if (borderColor != borderColor_ || backgroundColor != backgroundColor_) {
        borderColor_ = borderColor;
        backgroundColor_ = backgroundColor;
        update();
    }
}

QSize AudioStereoDBFSMeterView::sizeHint() const
{
    return {static_cast<int>(meter::meterWidth(isMono_)), meterHeight_};
}

void AudioStereoDBFSMeterView::updateSize()
{
    setFixedSize(sizeHint());
}

void AudioStereoDBFSMeterView::paintEvent(QPaintEvent*)
{
    using namespace meter;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame(rect());

    QPainterPath framePath;
    framePath.addRoundedRect(frame, frameCornerRadius, frameCornerRadius);
    painter.fillPath(framePath, backgroundColor_);

    const auto columns = columnRects(isMono_, frame.size());
    const std::array<float, 2> levels{leftDBFS_, rightDBFS_};
    const auto now = clock_();
    for (std::size_t index = 0; index < (isMono_ ? 1u : 2u); ++index) {
        const QRectF& column = columns[index];
        QPainterPath track;
        track.addRoundedRect(column, columnCornerRadius, columnCornerRadius);
        painter.fillPath(track, withOpacity(borderColor_, trackOpacity));

        const QLinearGradient gradient = levelGradient(column);
        painter.save();
        painter.setOpacity(scaleOpacity);
        painter.fillPath(track, gradient);
        painter.restore();

        const qreal lit = litHeight(levels[index], column.height());
        if (lit > 0) {
            QPainterPath mask;
            mask.addRoundedRect(QRectF(column.left(), column.bottom() - lit, column.width(), lit), columnCornerRadius,
                                columnCornerRadius);
            painter.fillPath(mask, gradient);
        }

        for (const double tick : tickLevels) {
            const qreal top = std::max(column.top(), column.bottom() - tickOffset(tick, column.height()) - tickHeight);
            painter.fillRect(QRectF(column.left(), top, column.width(), tickHeight),
                             withOpacity(borderColor_, tickOpacity));
        }

        const PeakHold& marks = marks_[index];
        const QRectF peakMark = peakMarkRect(column, marks.heldLevel(now));
        if (!peakMark.isEmpty()) {
            painter.fillRect(peakMark, gradient);
        }
        if (marks.isClipping(now)) {
            painter.fillRect(clipMarkRect(column), clipColor);
        }
    }
    if (!isMono_) {
        painter.fillRect(QRectF(columns[0].right(), 0, dividerWidth, frame.height()),
                         withOpacity(borderColor_, dividerOpacity));
    }

    QPen border(borderColor_, borderWidth);
    painter.setPen(border);
    painter.setBrush(Qt::NoBrush);
    const qreal inset = borderWidth / 2;
    painter.drawRoundedRect(frame.adjusted(inset, inset, -inset, -inset), frameCornerRadius - inset,
                            frameCornerRadius - inset);
}

} // namespace ferrylantern
