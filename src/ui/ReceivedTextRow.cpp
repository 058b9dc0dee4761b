#include "ui/ReceivedTextRow.h"

#include "ui/ElidedLabel.h"
#include "ui/SymbolWidgets.h"
#include "ui/TransferTexts.h"
#include "ui/ViewStyle.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace ferrylantern {

namespace {

constexpr int iconSide = 20;
constexpr int partSpacing = 8;
constexpr int dateColumnWidth = 118;
// How long "已复制" stands in for "复制" after a copy.
constexpr std::chrono::milliseconds copiedFeedback{1500};

QPushButton* flatButton(const QString& text, const QString& name, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

ReceivedTextRow::ReceivedTextRow(const ReceivedFileRecord& record, Style style, QWidget* parent)
    : QWidget(parent)
    , record_(record)
    , link_(singleWebLink(text()))
    , copy_(flatButton(QStringLiteral("复制"), QStringLiteral("copyButton"), this))
{
    setObjectName(QStringLiteral("receivedTextRow"));
    connect(copy_, &QPushButton::clicked, this, &ReceivedTextRow::copyToClipboard);
    QPushButton* open = nullptr;
    if (link_) {
        open = flatButton(QStringLiteral("打开链接"), QStringLiteral("openLinkButton"), this);
        open->setToolTip(Qt::convertFromPlainText(link_->toString(), Qt::WhiteSpaceNormal));
        connect(open, &QPushButton::clicked, this, [this] { emit openLinkRequested(*link_); });
    }

    auto* icon = new SymbolView(Symbol::docText, SymbolTint::secondary, iconSide, this);
    const auto shown = firstTextLines(text(), style == Style::card ? cardLines : 1);
    auto* lines = new QVBoxLayout;
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(0);
    for (qsizetype i = 0; i < shown.lines.size(); ++i) {
        const bool last = i + 1 == shown.lines.size();
        auto* line = new ElidedLabel(shown.lines.at(i) + (last && shown.isCut ? QStringLiteral(" …") : QString()),
                                     Qt::ElideRight, this);
        line->setObjectName(QStringLiteral("textLine"));
        lines->addWidget(line);
    }
    auto* size = captionLabel(fileSizeText(record_.byteCount), QStringLiteral("textSize"), this);
    auto* date = captionLabel(receivedDateText(toDateTime(record_.receivedAt)), QStringLiteral("receivedDate"), this);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 0);
    header->setSpacing(partSpacing);
    header->addWidget(icon, 0, style == Style::card ? Qt::AlignTop : Qt::AlignVCenter);
    header->addLayout(lines, 1);
    if (style == Style::listRow) {
        date->setFixedWidth(dateColumnWidth);
        date->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        header->addWidget(size, 0, Qt::AlignVCenter);
        header->addWidget(date, 0, Qt::AlignVCenter);
    }
    header->addWidget(copy_, 0, Qt::AlignTop);
    if (open != nullptr) {
        header->addWidget(open, 0, Qt::AlignTop);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, style == Style::card ? 4 : 2, 0, style == Style::card ? 4 : 2);
    layout->setSpacing(partSpacing);
    layout->addLayout(header);
    if (style == Style::card) {
        auto* footer = new QHBoxLayout;
        footer->setContentsMargins(iconSide + partSpacing, 0, 0, 0);
        footer->setSpacing(partSpacing);
        if (const auto source = sourceLineText(QString::fromStdString(record_.deviceFolder))) {
            footer->addWidget(captionLabel(*source, QStringLiteral("sourceLine"), this));
        }
        footer->addWidget(date);
        footer->addWidget(size);
        footer->addStretch();
        layout->addLayout(footer);
    }
}

QString ReceivedTextRow::text() const
{
    return QString::fromStdString(record_.text.value_or(std::string()));
}

void ReceivedTextRow::copyToClipboard()
{
    QGuiApplication::clipboard()->setText(text());
    copy_->setText(QStringLiteral("已复制"));
    QTimer::singleShot(copiedFeedback, copy_, [button = copy_] { button->setText(QStringLiteral("复制")); });
    emit copied();
}

} // namespace ferrylantern
