// The outline of one channel's waveform: the peaks drawn above the middle line and mirrored below it.
//
// Pure; thread-safe.
#pragma once

#include <QPainterPath>
#include <QRectF>

#include <vector>

namespace ferrylantern {

class WaveformShape
{
public:
    static constexpr float minimumLevel = 0.015f; // a silent bucket still shows this sliver
    static constexpr qreal heightShare = 0.46;    // a full-scale bucket reaches this far from the middle

    explicit WaveformShape(std::vector<float> samples)
        : samples_(std::move(samples))
    {}

    // For N samples: an empty path when N < 2 or the rectangle is empty. Otherwise the points
    // (i × W ÷ (N − 1), m − max(sample i, 0.015) × H × 0.46) from left to right, starting and ending
    // on the middle line m, and back from right to left through their mirror images below it, closed.
    // The x positions start at 0 of the shape's own coordinates, whatever the rectangle's left edge.
    QPainterPath path(const QRectF& rect) const;

    const std::vector<float>& samples() const { return samples_; }

private:
    std::vector<float> samples_;
};

} // namespace ferrylantern
