// Widgets that show a symbol in a colour of the palette and follow the palette when the appearance
// changes: a plain symbol (`SymbolView`) and a borderless symbol button (`SymbolButton`).
//
// GUI thread only.
#pragma once

#include "ui/SymbolIcon.h"

#include <QToolButton>
#include <QWidget>

namespace ferrylantern {

enum class SymbolTint
{
    primary,   // the text colour
    secondary, // dimmed text
    accent,
};

QColor tintColor(const QPalette& palette, SymbolTint tint);

class SymbolView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SymbolView)

public:
    SymbolView(Symbol symbol, SymbolTint tint, int side, QWidget* parent = nullptr);

    Symbol symbol() const { return symbol_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Symbol symbol_;
    SymbolTint tint_;
};

class SymbolButton final : public QToolButton
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SymbolButton)

public:
    // `help` becomes the tooltip and the accessible name.
    SymbolButton(Symbol symbol, SymbolTint tint, const QString& help, QWidget* parent = nullptr);

    Symbol symbol() const { return symbol_; }
    void setSymbol(Symbol symbol);
    void setHelp(const QString& help);

protected:
    void changeEvent(QEvent* event) override;

private:
    void updateIcon();

    Symbol symbol_;
    SymbolTint tint_;
};

} // namespace ferrylantern
