// The text styles and fixed colours the views share. Text sizes follow the desktop's font: the body
// text is the application font, and the other styles keep their proportions to it (a 13-unit body
// text, 10-unit captions, 11-unit subheadlines, 15-unit file names on cards).
//
// GUI thread only.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QLabel;
class QToolButton;
class QWidget;

namespace ferrylantern {

QFont captionFont(const QFont& base);
// Caption size in the monospaced system font, for numbers that change while they are read.
QFont captionDigitsFont(const QFont& base);
QFont subheadlineFont(const QFont& base);  // semibold where the section header asks for it
QFont headlineFont(const QFont& base);     // body size, semibold
QFont cardFileNameFont(const QFont& base); // 15 units, medium weight
QFont cardTimeFont(const QFont& base);     // the monospaced system font, 15 units, medium weight

// Dimmed text and symbols: the palette's placeholder role, which every appearance sets.
QColor secondaryColor(const QPalette& palette);
// The accent colour: the palette's highlight.
QColor accentColor(const QPalette& palette);
// Fixed system colours in their light and dark variants.
QColor systemOrange(const QPalette& palette);
QColor systemGreen(const QPalette& palette);

// Draws a label's text in the secondary colour, following every palette change.
void useSecondaryForeground(QWidget* widget);
// A plain-text label in caption size and the secondary colour, named `name` for tests.
QLabel* captionLabel(const QString& text, const QString& name, QWidget* parent);

// The parts of a transfer row whose file has gone: the note "文件已不存在" and the button that
// removes the record. Both start hidden.
QLabel* missingFileNote(QWidget* parent);
QToolButton* removeRecordButton(QWidget* parent);

// Gives a widget a font of the given style derived from its current font.
void useFont(QWidget* widget, QFont (*style)(const QFont&));

} // namespace ferrylantern
