// The header of one source in the list by source: a folder symbol, the source's name and, dimmed, the
// number of its files in parentheses.
//
// GUI thread only (a widget).
#pragma once

#include <QWidget>

class QLabel;

namespace ferrylantern {

class TransferSourceSectionHeader final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TransferSourceSectionHeader)

public:
    TransferSourceSectionHeader(const QString& source, int fileCount, QWidget* parent = nullptr);

    void setSource(const QString& source, int fileCount);
    QString sourceText() const;
    QString countText() const;

private:
    QLabel* source_;
    QLabel* count_;
};

} // namespace ferrylantern
