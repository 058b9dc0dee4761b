// A one-line label that shortens its text to the width it is given, in the middle by default, so a
// long file name keeps its beginning and its extension. The full text is its tooltip when shortened.
//
// GUI thread only.
#pragma once

#include <QLabel>

namespace ferrylantern {

class ElidedLabel final : public QLabel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ElidedLabel)

public:
    explicit ElidedLabel(const QString& text = {}, Qt::TextElideMode mode = Qt::ElideMiddle, QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return fullText_; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateElidedText();

    QString fullText_;
    Qt::TextElideMode mode_;
};

} // namespace ferrylantern
