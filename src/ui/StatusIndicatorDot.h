// The receiving service's indicator: an 8 × 8 circle, green while active, else a faint grey.
//
// GUI thread only (a widget).
#pragma once

#include <QWidget>

namespace ferrylantern {

class StatusIndicatorDot final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StatusIndicatorDot)

public:
    static constexpr int diameter = 8;
    static constexpr qreal inactiveOpacity = 0.35;

    explicit StatusIndicatorDot(bool isActive = false, QWidget* parent = nullptr);

    bool isActive() const { return isActive_; }
    void setActive(bool active);
    // The colour the dot is filled with in the current palette.
    QColor color() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool isActive_;
};

} // namespace ferrylantern
