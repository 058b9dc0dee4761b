#include "ui/ElidedLabel.h"

#include <QEvent>
#include <QTextDocument>

namespace ferrylantern {

namespace {

constexpr int minimumCharacters = 6; // enough for "a….wav"

} // namespace

ElidedLabel::ElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent)
    : QLabel(parent)
    , mode_(mode)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setFullText(text);
}

void ElidedLabel::setFullText(const QString& text)
{
    fullText_ = text;
    updateElidedText();
    updateGeometry();
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.averageCharWidth() * minimumCharacters, metrics.height()};
}

QSize ElidedLabel::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(fullText_) + 2, metrics.height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    updateElidedText();
}

void ElidedLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateElidedText();
    }
}

void ElidedLabel::updateElidedText()
{
    const QString shown = fontMetrics().elidedText(fullText_, mode_, contentsRect().width());
    if (shown != text()) {
        setText(shown);
    }
    // A tool tip is shown as rich text whenever it looks like markup, so the full name goes in escaped.
    setToolTip(shown == fullText_ ? QString() : Qt::convertFromPlainText(fullText_, Qt::WhiteSpaceNormal));
}

} // namespace ferrylantern
