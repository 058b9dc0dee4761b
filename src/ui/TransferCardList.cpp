#include "ui/TransferCardList.h"

#include "receiver/RecentTransferListModel.h"
#include "ui/FileReveal.h"
#include "ui/ReceivedTextRow.h"
#include "ui/TransferRow.h"

#include <QDesktopServices>
#include <QVBoxLayout>

namespace ferrylantern {

namespace {

constexpr int contentMargin = 16;
// Layout items above the first card: the slot of the uploads in flight.
constexpr int cardsStartAt = 1;

void retire(QWidget* card)
{
    card->hide();
    card->parentWidget()->layout()->removeWidget(card);
    // Later: the card may be handling the event (a drag on its waveform) that led here.
    card->deleteLater();
}

} // namespace

TransferCardList::TransferCardList(const RecentTransferListModel& records, bool showWaveform,
                                   AudioPlaybackController& playback, AudioWaveformLoader& loader, QWidget* parent)
    : QScrollArea(parent)
    , records_(records)
    , playback_(playback)
    , loader_(loader)
    , showWaveform_(showWaveform)
{
    setObjectName(QStringLiteral("cardScroll"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(this);
    layout_ = new QVBoxLayout(content);
    layout_->setContentsMargins(contentMargin, contentMargin, contentMargin, contentMargin);
    layout_->setSpacing(cardSpacing);
    activeSlot_ = new QVBoxLayout;
    activeSlot_->setContentsMargins(0, 0, 0, 0);
    layout_->addLayout(activeSlot_);
    layout_->addStretch();
    setWidget(content);

    connect(&records_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { insertCards(first, last); });
    connect(&records_, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) { removeCards(first, last); });
    connect(&records_, &QAbstractItemModel::modelReset, this, &TransferCardList::rebuild);
    connect(&records_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex& last) { showMissing(first.row(), last.row()); });
    rebuild();
}

QVBoxLayout* TransferCardList::activeSlot() const
{
    return activeSlot_;
}

QList<TransferRow*> TransferCardList::cards() const
{
    QList<TransferRow*> files;
    for (auto* card : cards_) {
        if (auto* file = qobject_cast<TransferRow*>(card)) {
            files.append(file);
        }
    }
    return files;
}

QList<ReceivedTextRow*> TransferCardList::textCards() const
{
    QList<ReceivedTextRow*> texts;
    for (auto* card : cards_) {
        if (auto* text = qobject_cast<ReceivedTextRow*>(card)) {
            texts.append(text);
        }
    }
    return texts;
}

void TransferCardList::setShowWaveform(bool show)
{
    showWaveform_ = show;
    for (auto* card : cards()) {
        card->setShowWaveform(show);
    }
}

void TransferCardList::insertCards(int first, int last)
{
    for (int row = first; row <= last; ++row) {
        const auto& record = records_.records().at(row);
        if (record.text) {
            auto* card = new ReceivedTextRow(record, ReceivedTextRow::Style::card, widget());
            connect(card, &ReceivedTextRow::openLinkRequested, this,
                    [](const QUrl& url) { QDesktopServices::openUrl(url); });
            layout_->insertWidget(cardsStartAt + row, card);
            cards_.insert(row, card);
            continue;
        }
        auto* card = new TransferRow(record, showWaveform_, playback_, loader_, widget());
        const QString path = QString::fromStdString(record.fileURL.string());
        connect(card, &TransferRow::revealRequested, this, [path] { revealInFileManager(path); });
        connect(card, &TransferRow::removeRequested, this, [this, id = record.id] { emit removeRequested(id); });
        card->setMissing(records_.isMissing(row));
        layout_->insertWidget(cardsStartAt + row, card);
        cards_.insert(row, card);
    }
}

void TransferCardList::showMissing(int first, int last)
{
    for (int row = first; row <= last && row < cards_.size(); ++row) {
        if (auto* card = qobject_cast<TransferRow*>(cards_.at(row))) {
            card->setMissing(records_.isMissing(row));
        }
    }
}

void TransferCardList::removeCards(int first, int last)
{
    for (int row = last; row >= first; --row) {
        retire(cards_.takeAt(row));
    }
}

void TransferCardList::rebuild()
{
    for (auto* card : std::as_const(cards_)) {
        retire(card);
    }
    cards_.clear();
    if (!records_.records().isEmpty()) {
        insertCards(0, static_cast<int>(records_.records().size()) - 1);
    }
}

} // namespace ferrylantern
