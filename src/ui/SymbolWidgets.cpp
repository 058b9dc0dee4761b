#include "ui/SymbolWidgets.h"

#include "ui/ViewStyle.h"

#include <QEvent>
#include <QPainter>

namespace ferrylantern {

QColor tintColor(const QPalette& palette, SymbolTint tint)
{
    switch (tint) {
    case SymbolTint::primary:
        return palette.color(QPalette::WindowText);
    case SymbolTint::secondary:
        return secondaryColor(palette);
    case SymbolTint::accent:
        break;
    }
    return accentColor(palette);
}

SymbolView::SymbolView(Symbol symbol, SymbolTint tint, int side, QWidget* parent)
    : QWidget(parent)
    , symbol_(symbol)
    , tint_(tint)
{
    setFixedSize(side, side);
}

void SymbolView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    symbolIcon(symbol_, tintColor(palette(), tint_)).paint(&painter, rect());
}

SymbolButton::SymbolButton(Symbol symbol, SymbolTint tint, const QString& help, QWidget* parent)
    : QToolButton(parent)
    , symbol_(symbol)
    , tint_(tint)
{
    setAutoRaise(true);
    setCursor(Qt::PointingHandCursor);
    setHelp(help);
    updateIcon();
}

void SymbolButton::setSymbol(Symbol symbol)
{
    if (symbol != symbol_) {
        symbol_ = symbol;
        updateIcon();
    }
}

void SymbolButton::setHelp(const QString& help)
{
    setToolTip(help);
    setAccessibleName(help);
}

void SymbolButton::changeEvent(QEvent* event)
{
    QToolButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        updateIcon();
    }
}

void SymbolButton::updateIcon()
{
    setIcon(symbolIcon(symbol_, tintColor(palette(), tint_)));
}

} // namespace ferrylantern
