#include "ui/TransferFinderListRow.h"

#include "audio/AudioStreamFormat.h"
#include "ui/AudioFormatCaption.h"
#include "ui/ElidedLabel.h"
#include "ui/SymbolWidgets.h"
#include "ui/TransferFileIcon.h"
#include "ui/TransferTexts.h"
#include "ui/ViewStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

namespace ferrylantern {

namespace {

constexpr int verticalPadding = 2;

} // namespace

TransferFinderListRow::TransferFinderListRow(const ReceivedFileRecord& record, AudioWaveformLoader& loader,
                                             QWidget* parent)
    : QWidget(parent)
    , record_(record)
{
    setObjectName(QStringLiteral("finderListRow"));
    const QString fileName = fileNameOf(record_);

    auto* icon = new TransferFileIcon(fileName, this);
    icon->setFixedSize(iconSide, iconSide);

    auto* names = new QVBoxLayout;
    names->setContentsMargins(0, 0, 0, 0);
    names->setSpacing(0);
    auto* name = new ElidedLabel(fileName, Qt::ElideMiddle, this);
    name->setObjectName(QStringLiteral("fileName"));
    names->addWidget(name);
    if (isAudioFileName(fileName)) {
        auto* caption = new AudioFormatCaption(loader, this);
        caption->setFile(fileURLOf(record_), fileName, record_.byteCount);
        names->addWidget(caption);
    }

    auto* size = captionLabel(fileSizeText(record_.byteCount), QStringLiteral("fileSize"), this);
    auto* date = captionLabel(receivedDateText(toDateTime(record_.receivedAt)), QStringLiteral("receivedDate"), this);
    date->setFixedWidth(dateColumnWidth);
    date->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* reveal = new SymbolButton(Symbol::folder, SymbolTint::secondary, QStringLiteral("在文件管理器中显示"), this);
    reveal->setObjectName(QStringLiteral("revealButton"));
    connect(reveal, &QToolButton::clicked, this, &TransferFinderListRow::revealRequested);
    reveal_ = reveal;
    missingNote_ = missingFileNote(this);
    remove_ = removeRecordButton(this);
    connect(remove_, &QToolButton::clicked, this, &TransferFinderListRow::removeRequested);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, verticalPadding, 0, verticalPadding);
    layout->addWidget(icon, 0, Qt::AlignVCenter);
    layout->addLayout(names, 1);
    layout->addWidget(size, 0, Qt::AlignVCenter);
    layout->addWidget(date, 0, Qt::AlignVCenter);
    layout->addWidget(missingNote_, 0, Qt::AlignVCenter);
    layout->addWidget(reveal, 0, Qt::AlignVCenter);
    layout->addWidget(remove_, 0, Qt::AlignVCenter);
}

void TransferFinderListRow::setMissing(bool missing)
{
    missing_ = missing;
    missingNote_->setVisible(missing);
    remove_->setVisible(missing);
    reveal_->setVisible(!missing);
}

void TransferFinderListRow::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && !missing_) {
        emit revealRequested();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

} // namespace ferrylantern
