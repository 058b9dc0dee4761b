#include "ui/QRCodeView.h"

#include "receiver/QRCodeModules.h"
#include "ui/SymbolIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace ferrylantern {

namespace {

constexpr int quietZoneModules = 2;
constexpr qreal panelCornerRadius = 12;

} // namespace

std::optional<QImage> makeQRImage(const QString& content, int side)
{
    if (side <= 0) {
        return std::nullopt;
    }
    const auto code = QRCodeModules::encode(content);
    if (!code) {
        return std::nullopt;
    }
    const int modules = code->width() + 2 * quietZoneModules;
    QImage grid(modules, modules, QImage::Format_Grayscale8);
    grid.fill(Qt::white);
    for (int y = 0; y < code->width(); ++y) {
        for (int x = 0; x < code->width(); ++x) {
            if (code->isDark(x, y)) {
                grid.setPixel(x + quietZoneModules, y + quietZoneModules, qRgb(0, 0, 0));
            }
        }
    }
    QImage scaled = grid.scaled(side, side, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (scaled.isNull()) {
        return std::nullopt;
    }
    return scaled;
}

QRCodeView::QRCodeView(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("qrCodeView"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void QRCodeView::setContent(const QString& content)
{
    if (content == content_ && image_) {
        return;
    }
    content_ = content;
    image_ = makeQRImage(content, side);
    setToolTip(content);
    setAccessibleName(content);
    update();
}

QSize QRCodeView::sizeHint() const
{
    return {side + 2 * margin, side + 2 * margin};
}

void QRCodeView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRectF panel(0, 0, side + 2 * margin, side + 2 * margin);
    if (!image_) {
        // The empty state: the symbol above the title, both dimmed.
        const QColor dimmed = palette().color(QPalette::PlaceholderText);
        constexpr qreal symbolSide = 48;
        const qreal lineHeight = fontMetrics().height();
        const qreal top = panel.center().y() - (symbolSide + 8 + lineHeight) / 2;
        paintSymbol(painter, Symbol::qrcode, QRectF(panel.center().x() - symbolSide / 2, top, symbolSide, symbolSide),
                    dimmed);
        painter.setPen(dimmed);
        painter.drawText(QRectF(panel.left(), top + symbolSide + 8, panel.width(), lineHeight), Qt::AlignCenter,
                         QStringLiteral("无法生成二维码"));
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath rounded;
    rounded.addRoundedRect(panel, panelCornerRadius, panelCornerRadius);
    painter.fillPath(rounded, Qt::white);
    // Modules stay sharp: no interpolation when the image is drawn.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QRectF(margin, margin, side, side), *image_);
}

} // namespace ferrylantern
