#include "ui/SharedItemRow.h"

#include "ui/ElidedLabel.h"
#include "ui/SymbolWidgets.h"
#include "ui/TransferFileIcon.h"
#include "ui/TransferTexts.h"
#include "ui/ViewStyle.h"

#include <QHBoxLayout>
#include <QLabel>

namespace ferrylantern {

SharedItemRow::SharedItemRow(const SharedItem& item, QWidget* parent)
    : QWidget(parent)
    , item_(item)
    , missingNote_(missingFileNote(this))
{
    setObjectName(QStringLiteral("sharedItemRow"));
    const bool isText = item_.kind == SharedItem::Kind::text;
    QWidget* icon = nullptr;
    QString shownName;
    if (isText) {
        icon = new SymbolView(Symbol::docText, SymbolTint::secondary, iconSide, this);
        const auto lines = firstTextLines(QString::fromStdString(item_.text), 1);
        shownName = lines.lines.value(0) + (lines.isCut ? QStringLiteral(" …") : QString());
    } else {
        shownName = QString::fromStdString(item_.name);
        icon = new TransferFileIcon(shownName, this);
    }
    icon->setFixedSize(iconSide, iconSide);
    auto* name = new ElidedLabel(shownName, isText ? Qt::ElideRight : Qt::ElideMiddle, this);
    name->setObjectName(QStringLiteral("sharedName"));
    auto* size = captionLabel(fileSizeText(item_.byteCount), QStringLiteral("sharedSize"), this);
    auto* remove = new SymbolButton(Symbol::xmarkCircle, SymbolTint::secondary, QStringLiteral("停止分享"), this);
    remove->setObjectName(QStringLiteral("stopSharingButton"));
    connect(remove, &QToolButton::clicked, this, [this] { emit removeRequested(item_.id); });

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(icon, 0, Qt::AlignVCenter);
    layout->addWidget(name, 1);
    layout->addWidget(missingNote_, 0, Qt::AlignVCenter);
    layout->addWidget(size, 0, Qt::AlignVCenter);
    layout->addWidget(remove, 0, Qt::AlignVCenter);
    setMissing(item_.missing);
}

void SharedItemRow::setMissing(bool missing)
{
    item_.missing = missing;
    missingNote_->setVisible(missing);
}

} // namespace ferrylantern
