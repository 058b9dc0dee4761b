#include "ui/SymbolIcon.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>

namespace ferrylantern {

namespace {

constexpr qreal grid = 24;       // symbols are drawn on a 24 × 24 grid
constexpr qreal lineWidth = 1.8; // in grid units
constexpr qreal disabledAlpha = 0.35;

QPainterPath folderOutline()
{
    QPainterPath path;
    path.moveTo(3, 7);
    path.arcTo(QRectF(3, 5, 3, 3), 180, -90);
    path.lineTo(9.5, 5);
    path.lineTo(11.5, 7);
    path.lineTo(19.5, 7);
    path.arcTo(QRectF(18, 7, 3, 3), 90, -90);
    path.lineTo(21, 17.5);
    path.arcTo(QRectF(18, 16, 3, 3), 0, -90);
    path.lineTo(4.5, 19);
    path.arcTo(QRectF(3, 16, 3, 3), 270, -90);
    path.closeSubpath();
    return path;
}

QPainterPath eyeOutline()
{
    QPainterPath path;
    path.moveTo(2, 12);
    path.cubicTo(5, 6, 9, 5, 12, 5);
    path.cubicTo(15, 5, 19, 6, 22, 12);
    path.cubicTo(19, 18, 15, 19, 12, 19);
    path.cubicTo(9, 19, 5, 18, 2, 12);
    path.closeSubpath();
    return path;
}

void drawSymbol(QPainter& painter, Symbol symbol, const QColor& color)
{
    QPen pen(color, lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    switch (symbol) {
    case Symbol::doc: {
        QPainterPath page;
        page.moveTo(6, 3);
        page.lineTo(14, 3);
        page.lineTo(19, 8);
        page.lineTo(19, 21);
        page.lineTo(6, 21);
        page.closeSubpath();
        painter.drawPath(page);
        painter.drawPolyline(QPolygonF({QPointF(14, 3), QPointF(14, 8), QPointF(19, 8)}));
        return;
    }
    case Symbol::docText: {
        QPainterPath page;
        page.addRoundedRect(QRectF(5, 3, 14, 18), 2, 2);
        painter.drawPath(page);
        for (const qreal y : {8.0, 12.0, 16.0}) {
            painter.drawLine(QPointF(8.5, y), QPointF(y < 16 ? 15.5 : 12.5, y));
        }
        return;
    }
    case Symbol::folder:
        painter.drawPath(folderOutline());
        painter.drawLine(QPointF(3, 10), QPointF(21, 10));
        return;
    case Symbol::folderFill:
        painter.setBrush(color);
        painter.drawPath(folderOutline());
        return;
    case Symbol::eye:
    case Symbol::eyeSlash:
        painter.drawPath(eyeOutline());
        painter.setBrush(color);
        painter.drawEllipse(QPointF(12, 12), 2.6, 2.6);
        if (symbol == Symbol::eyeSlash) {
            painter.drawLine(QPointF(4, 3.5), QPointF(20, 20.5));
        }
        return;
    case Symbol::trash:
        painter.drawLine(QPointF(3.5, 6), QPointF(20.5, 6));
        painter.drawPolyline(QPolygonF({QPointF(9, 6), QPointF(9.5, 3.5), QPointF(14.5, 3.5), QPointF(15, 6)}));
        painter.drawPolyline(QPolygonF({QPointF(5.5, 6), QPointF(6.8, 20.5), QPointF(17.2, 20.5), QPointF(18.5, 6)}));
        painter.drawLine(QPointF(10, 10), QPointF(10, 17));
        painter.drawLine(QPointF(14, 10), QPointF(14, 17));
        return;
    case Symbol::playFill: {
        painter.setBrush(color);
        painter.setPen(QPen(color, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPolygon(QPolygonF({QPointF(6.5, 3.5), QPointF(20, 12), QPointF(6.5, 20.5)}));
        return;
    }
    case Symbol::pauseFill:
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawRoundedRect(QRectF(5.5, 3.5, 4.5, 17), 1.2, 1.2);
        painter.drawRoundedRect(QRectF(14, 3.5, 4.5, 17), 1.2, 1.2);
        return;
    case Symbol::listBullet:
        for (const qreal y : {6.0, 12.0, 18.0}) {
            painter.drawLine(QPointF(9, y), QPointF(21, y));
            painter.save();
            painter.setPen(Qt::NoPen);
            painter.setBrush(color);
            painter.drawEllipse(QPointF(4.5, y), 1.6, 1.6);
            painter.restore();
        }
        return;
    case Symbol::arrowDownCircle:
        painter.drawEllipse(QPointF(12, 12), 9.5, 9.5);
        painter.drawLine(QPointF(12, 6.5), QPointF(12, 17));
        painter.drawPolyline(QPolygonF({QPointF(7.5, 12.5), QPointF(12, 17), QPointF(16.5, 12.5)}));
        return;
    case Symbol::xmarkCircle:
        painter.drawEllipse(QPointF(12, 12), 9.5, 9.5);
        painter.drawLine(QPointF(8.5, 8.5), QPointF(15.5, 15.5));
        painter.drawLine(QPointF(15.5, 8.5), QPointF(8.5, 15.5));
        return;
    case Symbol::qrcode:
        // Three finder patterns and a few modules.
        for (const QPointF corner : {QPointF(3, 3), QPointF(14, 3), QPointF(3, 14)}) {
            painter.drawRect(QRectF(corner, QSizeF(7, 7)));
            painter.fillRect(QRectF(corner + QPointF(2.5, 2.5), QSizeF(2, 2)), color);
        }
        for (const QPointF module :
             {QPointF(14, 14), QPointF(18, 14), QPointF(16, 17), QPointF(14, 19.5), QPointF(19, 19.5)}) {
            painter.fillRect(QRectF(module, QSizeF(2.2, 2.2)), color);
        }
        return;
    }
}

// Paints a drawn symbol at any size; the disabled mode dims it.
class SymbolIconEngine final : public QIconEngine
{
public:
    SymbolIconEngine(Symbol symbol, QColor color)
        : symbol_(symbol)
        , color_(color)
    {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        QColor color = color_;
        if (mode == QIcon::Disabled) {
            color.setAlphaF(color.alphaF() * disabledAlpha);
        }
        paintSymbol(*painter, symbol_, rect, color);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(), size), mode, state);
        return pixmap;
    }

    QIconEngine* clone() const override { return new SymbolIconEngine(symbol_, color_); }
    QString key() const override { return QStringLiteral("FerryLanternSymbol"); }

private:
    Symbol symbol_;
    QColor color_;
};

} // namespace

QString symbolName(Symbol symbol)
{
    switch (symbol) {
    case Symbol::doc:
        return QStringLiteral("doc");
    case Symbol::docText:
        return QStringLiteral("doc.text");
    case Symbol::folder:
        return QStringLiteral("folder");
    case Symbol::folderFill:
        return QStringLiteral("folder.fill");
    case Symbol::eye:
        return QStringLiteral("eye");
    case Symbol::eyeSlash:
        return QStringLiteral("eye.slash");
    case Symbol::trash:
        return QStringLiteral("trash");
    case Symbol::playFill:
        return QStringLiteral("play.fill");
    case Symbol::pauseFill:
        return QStringLiteral("pause.fill");
    case Symbol::listBullet:
        return QStringLiteral("list.bullet");
    case Symbol::arrowDownCircle:
        return QStringLiteral("arrow.down.circle");
    case Symbol::xmarkCircle:
        return QStringLiteral("xmark.circle");
    case Symbol::qrcode:
        return QStringLiteral("qrcode");
    }
    return {};
}

QStringList themeIconNames(Symbol symbol)
{
    switch (symbol) {
    case Symbol::doc:
        return {QStringLiteral("text-x-generic")};
    case Symbol::docText:
        return {}; // themes draw a text file as a document; a text of its own is always drawn
    case Symbol::folder:
    case Symbol::folderFill:
        return {QStringLiteral("folder")};
    case Symbol::eye:
        return {QStringLiteral("view-visible"), QStringLiteral("view-reveal-symbolic")};
    case Symbol::eyeSlash:
        return {QStringLiteral("view-hidden"), QStringLiteral("view-conceal-symbolic")};
    case Symbol::trash:
        return {QStringLiteral("user-trash")};
    case Symbol::playFill:
        return {QStringLiteral("media-playback-start")};
    case Symbol::pauseFill:
        return {QStringLiteral("media-playback-pause")};
    case Symbol::listBullet:
        return {QStringLiteral("view-list-details"), QStringLiteral("view-list-symbolic")};
    case Symbol::arrowDownCircle:
        return {QStringLiteral("folder-download"), QStringLiteral("go-down")};
    case Symbol::xmarkCircle:
        return {QStringLiteral("window-close"), QStringLiteral("process-stop")};
    case Symbol::qrcode:
        return {}; // icon themes have none; always drawn
    }
    return {};
}

QIcon symbolIcon(Symbol symbol, const QColor& color)
{
    for (const QString& name : themeIconNames(symbol)) {
        if (QIcon::hasThemeIcon(name)) {
            return QIcon::fromTheme(name);
        }
    }
    return drawnSymbolIcon(symbol, color);
}

QIcon drawnSymbolIcon(Symbol symbol, const QColor& color)
{
    return QIcon(new SymbolIconEngine(symbol, color));
}

void paintSymbol(QPainter& painter, Symbol symbol, const QRectF& rect, const QColor& color)
{
    const qreal side = std::min(rect.width(), rect.height());
    if (side <= 0) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(rect.center().x() - side / 2, rect.center().y() - side / 2);
    painter.scale(side / grid, side / grid);
    drawSymbol(painter, symbol, color);
    painter.restore();
}

} // namespace ferrylantern
