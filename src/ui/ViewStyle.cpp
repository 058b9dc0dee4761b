#include "ui/ViewStyle.h"

#include "ui/AppAppearanceSettings.h"
#include "ui/SymbolWidgets.h"

#include <QFontDatabase>
#include <QLabel>
#include <QWidget>

namespace ferrylantern {

namespace {

constexpr qreal bodyUnits = 13;
constexpr qreal captionUnits = 10;
constexpr qreal subheadlineUnits = 11;
constexpr qreal cardNameUnits = 15;
constexpr qreal minimumPointSize = 7;

QFont scaled(QFont font, const QFont& base, qreal units)
{
    const qreal basePoints = base.pointSizeF() > 0 ? base.pointSizeF() : 10;
    font.setPointSizeF(std::max(minimumPointSize, basePoints * units / bodyUnits));
    return font;
}

} // namespace

QFont captionFont(const QFont& base)
{
    return scaled(base, base, captionUnits);
}

QFont captionDigitsFont(const QFont& base)
{
    return scaled(QFontDatabase::systemFont(QFontDatabase::FixedFont), base, captionUnits);
}

QFont subheadlineFont(const QFont& base)
{
    return scaled(base, base, subheadlineUnits);
}

QFont headlineFont(const QFont& base)
{
    QFont font = base;
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont cardFileNameFont(const QFont& base)
{
    QFont font = scaled(base, base, cardNameUnits);
    font.setWeight(QFont::Medium);
    return font;
}

QFont cardTimeFont(const QFont& base)
{
    QFont font = scaled(QFontDatabase::systemFont(QFontDatabase::FixedFont), base, cardNameUnits);
    font.setWeight(QFont::Medium);
    return font;
}

QColor secondaryColor(const QPalette& palette)
{
    return palette.color(QPalette::PlaceholderText);
}

QColor accentColor(const QPalette& palette)
{
    return palette.color(QPalette::Active, QPalette::Highlight);
}

QColor systemOrange(const QPalette& palette)
{
    return isDarkPalette(palette) ? QColor(255, 159, 10) : QColor(255, 149, 0);
}

QColor systemGreen(const QPalette& palette)
{
    return isDarkPalette(palette) ? QColor(48, 209, 88) : QColor(52, 199, 89);
}

void useSecondaryForeground(QWidget* widget)
{
    widget->setForegroundRole(QPalette::PlaceholderText);
}

void useFont(QWidget* widget, QFont (*style)(const QFont&))
{
    widget->setFont(style(widget->font()));
}

QLabel* captionLabel(const QString& text, const QString& name, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    useFont(label, captionFont);
    useSecondaryForeground(label);
    return label;
}

QLabel* missingFileNote(QWidget* parent)
{
    auto* note = captionLabel(QStringLiteral("文件已不存在"), QStringLiteral("missingNote"), parent);
    note->hide();
    return note;
}

QToolButton* removeRecordButton(QWidget* parent)
{
    auto* button = new SymbolButton(Symbol::xmarkCircle, SymbolTint::secondary, QStringLiteral("移除此记录"), parent);
    button->setObjectName(QStringLiteral("removeButton"));
    button->hide();
    return button;
}

} // namespace ferrylantern
