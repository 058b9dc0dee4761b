#include "ui/PINCodeEntryField.h"

#include "server/PINRules.h"
#include "ui/SymbolWidgets.h"
#include "ui/UserPreferences.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>

namespace ferrylantern {

namespace {

constexpr int itemSpacing = 6;
constexpr int horizontalPadding = 8;
constexpr int verticalPadding = 5;
constexpr qreal cornerRadius = 6;
constexpr qreal outlineOpacity = 0.18;

const QString placeholder = QStringLiteral("4 位 PIN");

} // namespace

QString filteredPIN(const QString& text)
{
    // The upload page sends ASCII digits only, so a PIN of other numerals could never be entered on a
    // phone: decimal digits of other scripts (full-width ones from an input method, say) become their
    // ASCII digits, and numerals that are no decimal digits (fractions, Han numerals) are dropped.
    QString digits;
    for (const char32_t scalar : text.toUcs4()) {
        if (QChar::category(scalar) == QChar::Number_DecimalDigit) {
            digits += QChar(u'0' + QChar::digitValue(scalar));
        }
    }
    return QString::fromStdString(normalizedPIN(digits.toStdString()));
}

QString filterPINEntry(QLineEdit* entry, const QString& text)
{
    const QString filtered = filteredPIN(text);
    if (filtered != text) {
        const int cursor = std::min(entry->cursorPosition(), static_cast<int>(filtered.size()));
        const QSignalBlocker blocker(entry);
        entry->setText(filtered);
        entry->setCursorPosition(cursor);
    }
    return filtered;
}

PINCodeEntryField::PINCodeEntryField(UserPreferences& preferences, QWidget* parent)
    : QWidget(parent)
    , preferences_(preferences)
    , entry_(new QLineEdit(this))
    , eye_(new SymbolButton(Symbol::eye, SymbolTint::secondary, QStringLiteral("显示 PIN"), this))
    , dimming_(new QGraphicsOpacityEffect(this))
{
    setObjectName(QStringLiteral("pinCodeField"));
    entry_->setObjectName(QStringLiteral("pinEntry"));
    entry_->setPlaceholderText(placeholder);
    entry_->setFrame(false);
    entry_->setFixedWidth(entryWidth);
    entry_->setEchoMode(QLineEdit::Password);
    // The field draws its own rounded background.
    QPalette transparent = entry_->palette();
    transparent.setColor(QPalette::Base, Qt::transparent);
    entry_->setPalette(transparent);
    eye_->setObjectName(QStringLiteral("pinVisibilityButton"));
    connect(eye_, &QToolButton::clicked, this, [this] { setPINVisible(!isPINVisible_); });

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(horizontalPadding, verticalPadding, horizontalPadding, verticalPadding);
    layout->setSpacing(itemSpacing);
    layout->addWidget(entry_);
    layout->addWidget(eye_);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    dimming_->setOpacity(disabledOpacity);
    dimming_->setEnabled(false);
    setGraphicsEffect(dimming_);

    showStoredPIN(preferences_.pinCode());
    connect(entry_, &QLineEdit::textChanged, this, &PINCodeEntryField::textChanged);
    connect(&preferences_, &UserPreferences::pinCodeChanged, this, &PINCodeEntryField::showStoredPIN);
}

QString PINCodeEntryField::pinCode() const
{
    return entry_->text();
}

void PINCodeEntryField::setPINVisible(bool visible)
{
    isPINVisible_ = visible;
    entry_->setEchoMode(visible ? QLineEdit::Normal : QLineEdit::Password);
    eye_->setSymbol(visible ? Symbol::eyeSlash : Symbol::eye);
    eye_->setHelp(visible ? QStringLiteral("隐藏 PIN") : QStringLiteral("显示 PIN"));
}

void PINCodeEntryField::textChanged(const QString& text)
{
    // Every change is filtered at once: a letter or a fifth digit never stays in the field.
    preferences_.setPINCode(filterPINEntry(entry_, text));
}

void PINCodeEntryField::showStoredPIN(const QString& code)
{
    // A stored text from elsewhere shows as the PIN it stands for; it is written back filtered only
    // when the user edits it.
    const QString shown = filteredPIN(code);
    if (shown != entry_->text()) {
        const QSignalBlocker blocker(entry_);
        entry_->setText(shown);
    }
}

void PINCodeEntryField::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) {
        dimming_->setEnabled(!isEnabled());
    }
}

void PINCodeEntryField::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor outline = palette().color(QPalette::Active, QPalette::WindowText);
    outline.setAlphaF(static_cast<float>(outlineOpacity));
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(frame, cornerRadius, cornerRadius);
    painter.fillPath(path, palette().color(QPalette::Active, QPalette::Base));
    painter.setPen(QPen(outline, 1));
    painter.drawPath(path);
}

} // namespace ferrylantern
