#include "ui/WaveformShape.h"

#include <algorithm>
#include <cmath>

namespace ferrylantern {

QPainterPath WaveformShape::path(const QRectF& rect) const
{
    QPainterPath outline;
    const std::size_t count = samples_.size();
    if (count < 2 || !(rect.width() > 0) || !(rect.height() > 0)) {
        return outline;
    }
    const qreal middle = rect.center().y();
    const qreal width = rect.width();
    const qreal height = rect.height();
    std::vector<QPointF> points(count);
    for (std::size_t index = 0; index < count; ++index) {
        // A NaN peak would poison the whole path; it counts as silence.
        const float sample = std::isnan(samples_[index]) ? 0.0f : samples_[index];
        const qreal level = std::max(sample, minimumLevel);
        points[index] = QPointF(static_cast<qreal>(index) * width / static_cast<qreal>(count - 1),
                                middle - level * height * heightShare);
    }
    outline.moveTo(points.front().x(), middle);
    for (const QPointF& point : points) {
        outline.lineTo(point);
    }
    outline.lineTo(points.back().x(), middle);
    for (auto point = points.rbegin(); point != points.rend(); ++point) {
        outline.lineTo(point->x(), middle + (middle - point->y()));
    }
    outline.closeSubpath();
    return outline;
}

} // namespace ferrylantern
