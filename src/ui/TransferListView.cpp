#include "ui/TransferListView.h"

#include "receiver/TransferReceiverModel.h"
#include "ui/ActiveReceiveRow.h"
#include "ui/ActiveReceiveSection.h"
#include "ui/SymbolWidgets.h"
#include "ui/TransferCardList.h"
#include "ui/TransferSourceList.h"
#include "ui/UserPreferences.h"
#include "ui/ViewStyle.h"

#include <QLabel>
#include <QVBoxLayout>

namespace ferrylantern {

namespace {

QWidget* makeEmptyState(QWidget* parent)
{
    auto* panel = new QWidget(parent);
    panel->setObjectName(QStringLiteral("emptyState"));
    auto* layout = new QVBoxLayout(panel);
    layout->addStretch();
    layout->addWidget(new SymbolView(Symbol::arrowDownCircle, SymbolTint::secondary, 48, panel), 0, Qt::AlignHCenter);
    auto* title = new QLabel(QStringLiteral("等待文件"), panel);
    useFont(title, headlineFont);
    layout->addWidget(title, 0, Qt::AlignHCenter);
    auto* description = new QLabel(QStringLiteral("手机扫码上传后，文件会出现在这里。"), panel);
    useSecondaryForeground(description);
    layout->addWidget(description, 0, Qt::AlignHCenter);
    layout->addStretch();
    return panel;
}

} // namespace

TransferListView::TransferListView(TransferReceiverModel& model, UserPreferences& preferences,
                                   AudioPlaybackController& playback, AudioWaveformLoader& loader, QWidget* parent)
    : QStackedWidget(parent)
    , model_(model)
    , preferences_(preferences)
{
    setObjectName(QStringLiteral("transferList"));
    emptyState_ = makeEmptyState(this);
    addWidget(emptyState_);
    cardList_ =
        new TransferCardList(model_.recentTransferList(), preferences_.showAudioWaveform(), playback, loader, this);
    addWidget(cardList_);
    sourceList_ = new TransferSourceList(model_.recentTransferList(), loader, this);
    addWidget(sourceList_);
    activeSection_ = new ActiveReceiveSection(model_.activeReceiveList(), this);
    connect(activeSection_, &ActiveReceiveSection::cancelRequested, &model_, &TransferReceiverModel::cancelReceive);
    connect(cardList_, &TransferCardList::removeRequested, &model_, &TransferReceiverModel::removeRecentTransfer);
    connect(sourceList_, &TransferSourceList::removeRequested, &model_, &TransferReceiverModel::removeRecentTransfer);

    // Only whether a list is empty decides what shows; progress (rows changing) never does.
    for (const QAbstractItemModel* list :
         std::initializer_list<const QAbstractItemModel*>{&model_.recentTransferList(), &model_.activeReceiveList()}) {
        connect(list, &QAbstractItemModel::rowsInserted, this, &TransferListView::showMode);
        connect(list, &QAbstractItemModel::rowsRemoved, this, &TransferListView::showMode);
        connect(list, &QAbstractItemModel::modelReset, this, &TransferListView::showMode);
    }
    connect(&preferences_, &UserPreferences::listBySourceChanged, this, &TransferListView::showMode);
    connect(&preferences_, &UserPreferences::showAudioWaveformChanged, cardList_, &TransferCardList::setShowWaveform);
    showMode();
}

TransferListView::Mode TransferListView::mode() const
{
    if (currentWidget() == emptyState_) {
        return Mode::empty;
    }
    return currentWidget() == cardList_ ? Mode::cards : Mode::list;
}

void TransferListView::showMode()
{
    const bool listBySource = preferences_.listBySource();
    QVBoxLayout* slot = listBySource ? sourceList_->activeSlot() : cardList_->activeSlot();
    if (slot->indexOf(activeSection_) < 0) {
        // The one section of uploads in flight moves to the presentation on show.
        cardList_->activeSlot()->removeWidget(activeSection_);
        sourceList_->activeSlot()->removeWidget(activeSection_);
        slot->addWidget(activeSection_);
        activeSection_->setShowsHeader(listBySource);
        activeSection_->setRowSpacing(listBySource ? TransferSourceList::rowSpacing : TransferCardList::cardSpacing);
    }
    if (model_.recentTransfers().isEmpty() && model_.activeReceives().isEmpty()) {
        setCurrentWidget(emptyState_);
    } else {
        setCurrentWidget(listBySource ? static_cast<QWidget*>(sourceList_) : cardList_);
    }
}

QList<TransferRow*> TransferListView::cards() const
{
    return cardList_->cards();
}

QList<ActiveReceiveRow*> TransferListView::activeRows() const
{
    return activeSection_->rows();
}

QStringList TransferListView::listSections() const
{
    return sourceList_->sectionTitles();
}

} // namespace ferrylantern
