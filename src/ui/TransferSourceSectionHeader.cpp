#include "ui/TransferSourceSectionHeader.h"

#include "ui/SymbolWidgets.h"
#include "ui/ViewStyle.h"

#include <QHBoxLayout>
#include <QLabel>

namespace ferrylantern {

namespace {

QFont sectionFont(const QFont& base)
{
    QFont font = subheadlineFont(base);
    font.setWeight(QFont::DemiBold);
    return font;
}

} // namespace

TransferSourceSectionHeader::TransferSourceSectionHeader(const QString& source, int fileCount, QWidget* parent)
    : QWidget(parent)
    , source_(new QLabel(this))
    , count_(new QLabel(this))
{
    setObjectName(QStringLiteral("sourceSectionHeader"));
    useFont(this, sectionFont);
    source_->setObjectName(QStringLiteral("sourceName"));
    source_->setTextFormat(Qt::PlainText);
    count_->setObjectName(QStringLiteral("sourceCount"));
    useSecondaryForeground(count_);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new SymbolView(Symbol::folderFill, SymbolTint::secondary, fontMetrics().height(), this));
    layout->addWidget(source_);
    layout->addWidget(count_);
    layout->addStretch();
    setSource(source, fileCount);
}

void TransferSourceSectionHeader::setSource(const QString& source, int fileCount)
{
    source_->setText(source);
    count_->setText(QStringLiteral("(%1)").arg(fileCount));
}

QString TransferSourceSectionHeader::sourceText() const
{
    return source_->text();
}

QString TransferSourceSectionHeader::countText() const
{
    return count_->text();
}

} // namespace ferrylantern
