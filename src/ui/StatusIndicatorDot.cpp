#include "ui/StatusIndicatorDot.h"

#include "ui/ViewStyle.h"

#include <QPainter>

namespace ferrylantern {

StatusIndicatorDot::StatusIndicatorDot(bool isActive, QWidget* parent)
    : QWidget(parent)
    , isActive_(isActive)
{
    setObjectName(QStringLiteral("statusDot"));
    setFixedSize(diameter, diameter);
}

void StatusIndicatorDot::setActive(bool active)
{
    if (active != isActive_) {
        isActive_ = active;
        update();
    }
}

QColor StatusIndicatorDot::color() const
{
    if (isActive_) {
        return systemGreen(palette());
    }
    QColor inactive = secondaryColor(palette());
    inactive.setAlphaF(static_cast<float>(inactive.alphaF() * inactiveOpacity));
    return inactive;
}

void StatusIndicatorDot::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color());
    painter.drawEllipse(QRectF(rect()));
}

} // namespace ferrylantern
