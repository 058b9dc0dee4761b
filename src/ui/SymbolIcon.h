// The symbols the windows show ("doc", "folder", "eye", "trash", "play.fill", …): the desktop icon
// theme's icon when it has one under a freedesktop name, otherwise the symbol drawn here, so every
// symbol shows on a bare desktop too.
//
// GUI thread only (icons and painting).
//
//     button->setIcon(symbolIcon(Symbol::folder, secondaryTextColor(button->palette())));
#pragma once

#include <QColor>
#include <QIcon>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <array>

class QPainter;

namespace ferrylantern {

enum class Symbol
{
    doc,
    docText, // a text rather than a file
    folder,
    folderFill,
    eye,
    eyeSlash,
    trash,
    playFill,
    pauseFill,
    listBullet,
    arrowDownCircle,
    xmarkCircle,
    qrcode,
};

inline constexpr std::array<Symbol, 13> allSymbols{
    Symbol::doc,       Symbol::docText,    Symbol::folder,          Symbol::folderFill,
    Symbol::eye,       Symbol::eyeSlash,   Symbol::trash,           Symbol::playFill,
    Symbol::pauseFill, Symbol::listBullet, Symbol::arrowDownCircle, Symbol::xmarkCircle,
    Symbol::qrcode};

// The symbol's own name: "doc", "folder.fill", "eye.slash", …
QString symbolName(Symbol symbol);

// Icon-theme names that stand for the symbol, best first.
QStringList themeIconNames(Symbol symbol);

// The theme's icon for the symbol, else the drawn symbol in `color` (dimmed when disabled).
QIcon symbolIcon(Symbol symbol, const QColor& color);

// Always the drawn symbol, for places that must match the colours around them.
QIcon drawnSymbolIcon(Symbol symbol, const QColor& color);

// Draws the symbol into `rect` (kept square and centred) in `color`.
void paintSymbol(QPainter& painter, Symbol symbol, const QRectF& rect, const QColor& color);

} // namespace ferrylantern
