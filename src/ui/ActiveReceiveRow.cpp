#include "ui/ActiveReceiveRow.h"

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

namespace {

constexpr int verticalPadding = 6;
constexpr int lineSpacing = 4;

} // namespace

ActiveReceiveRow::ActiveReceiveRow(const TransferReceiveProgress& progress, QWidget* parent)
    : QWidget(parent)
    , name_(new ElidedLabel({}, Qt::ElideMiddle, this))
    , source_(new QLabel(this))
    , bar_(new QProgressBar(this))
    , sizes_(new QLabel(this))
{
    setObjectName(QStringLiteral("activeReceiveRow"));
    name_->setObjectName(QStringLiteral("fileName"));
    useFont(name_, headlineFont);
    source_->setObjectName(QStringLiteral("sourceLine"));
    source_->setTextFormat(Qt::PlainText);
    useFont(source_, captionFont);
    useSecondaryForeground(source_);
    bar_->setObjectName(QStringLiteral("progressBar"));
    bar_->setRange(0, progressSteps);
    bar_->setTextVisible(false);
    bar_->setMaximumHeight(fontMetrics().height() / 2 + 2);
    sizes_->setObjectName(QStringLiteral("progressText"));
    sizes_->setTextFormat(Qt::PlainText);
    // Fixed-width digits at a fixed width, so neither the text nor the bar jitters as the numbers grow.
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
    column->setSpacing(lineSpacing);
    column->addWidget(name_);
    column->addWidget(source_);
    column->addLayout(barLine);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, verticalPadding, 0, verticalPadding);
    layout->addLayout(column, 1);
    layout->addWidget(cancel, 0, Qt::AlignTop);

    setProgress(progress);
}

void ActiveReceiveRow::setProgress(const TransferReceiveProgress& progress)
{
    const bool sameFile = progress.id == progress_.id && progress.fileName == progress_.fileName &&
                          progress.deviceFolder == progress_.deviceFolder && name_->fullText() == progress.fileName;
    const bool sameState = sameFile && progress.isStalled == progress_.isStalled;
    progress_ = progress;
    // Progress changes the bar and the numbers only, neither of which changes the row's size, so the
    // list around it is not laid out again (64 uploads send 640 of these a second).
    if (!sameFile) {
        name_->setFullText(progress_.fileName);
    }
    if (!sameState) {
        auto source = sourceLineText(progress_.deviceFolder);
        if (progress_.isStalled) {
            const QString waiting = QStringLiteral("等待手机…");
            source = source ? *source + QStringLiteral(" · ") + waiting : waiting;
        }
        source_->setText(source.value_or(QString()));
        source_->setVisible(source.has_value());
    }
    bar_->setValue(static_cast<int>(std::lround(fraction() * progressSteps)));
    sizes_->setText(receiveProgressText(progress_.bytesReceived, progress_.totalBytes));
}

double ActiveReceiveRow::fraction() const
{
    return receiveFraction(progress_.bytesReceived, progress_.totalBytes);
}

} // namespace ferrylantern
