#include "ui/ActiveDownloadRow.h"

#include "ui/ElidedLabel.h"
#include "ui/TransferTexts.h"
#include "ui/ViewStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace ferrylantern {

ActiveDownloadRow::ActiveDownloadRow(const TransferSendProgress& progress, QWidget* parent)
    : QWidget(parent)
    , name_(new ElidedLabel({}, Qt::ElideMiddle, this))
    , destination_(captionLabel({}, QStringLiteral("destinationLine"), this))
    , bar_(new QProgressBar(this))
    , sizes_(new QLabel(this))
{
    setObjectName(QStringLiteral("activeDownloadRow"));
    name_->setObjectName(QStringLiteral("fileName"));
    bar_->setObjectName(QStringLiteral("progressBar"));
    bar_->setRange(0, progressSteps);
    bar_->setTextVisible(false);
    bar_->setMaximumHeight(fontMetrics().height() / 2 + 2);
    sizes_->setObjectName(QStringLiteral("progressText"));
    sizes_->setTextFormat(Qt::PlainText);
    useFont(sizes_, captionDigitsFont);
    useSecondaryForeground(sizes_);
    sizes_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    sizes_->setFixedWidth(sizes_->fontMetrics().horizontalAdvance(QStringLiteral("888.8 MB / 888.8 MB")));

    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setFlat(true);
    cancel->setCursor(Qt::PointingHandCursor);
    connect(cancel, &QPushButton::clicked, this, [this] { emit cancelRequested(progress_.id); });

    auto* barLine = new QHBoxLayout;
    barLine->setContentsMargins(0, 0, 0, 0);
    barLine->addWidget(bar_, 1, Qt::AlignVCenter);
    barLine->addWidget(sizes_, 0, Qt::AlignVCenter);
    auto* column = new QVBoxLayout;
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    column->addWidget(name_);
    column->addWidget(destination_);
    column->addLayout(barLine);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->addLayout(column, 1);
    layout->addWidget(cancel, 0, Qt::AlignTop);
    setProgress(progress);
}

void ActiveDownloadRow::setProgress(const TransferSendProgress& progress)
{
    const bool sameDownload = progress.id == progress_.id && name_->fullText() == progress.fileName &&
                              progress.deviceFolder == progress_.deviceFolder;
    progress_ = progress;
    // A progress tick changes the bar and the numbers only; neither changes the row's size.
    if (!sameDownload) {
        name_->setFullText(progress_.fileName);
        const auto destination = destinationLineText(progress_.deviceFolder);
        destination_->setText(destination.value_or(QString()));
        destination_->setVisible(destination.has_value());
    }
    bar_->setValue(static_cast<int>(std::lround(fraction() * progressSteps)));
    sizes_->setText(receiveProgressText(progress_.bytesSent, progress_.totalBytes));
}

double ActiveDownloadRow::fraction() const
{
    return receiveFraction(progress_.bytesSent, progress_.totalBytes);
}

} // namespace ferrylantern
