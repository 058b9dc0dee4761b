#include "ui/TransferListView.h"

#include "receiver/TransferReceiverModel.h"
#include "ui/ActiveReceiveRow.h"
#include "ui/FileReveal.h"
#include "ui/SourceSections.h"
#include "ui/SymbolWidgets.h"
#include "ui/TransferFinderListRow.h"
#include "ui/TransferRow.h"
#include "ui/TransferSourceSectionHeader.h"
#include "ui/UserPreferences.h"
#include "ui/ViewStyle.h"

#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

namespace ferrylantern {

namespace {

constexpr int cardSpacing = 16;

QString key(const Uuid& id)
{
    return QString::fromStdString(id.text());
}

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

QScrollArea* makeScrollArea(QWidget* parent, const QString& name)
{
    auto* scroll = new QScrollArea(parent);
    scroll->setObjectName(name);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    return scroll;
}

} // namespace

TransferListView::TransferListView(TransferReceiverModel& model, UserPreferences& preferences,
                                   AudioPlaybackController& playback, AudioWaveformLoader& loader, QWidget* parent)
    : QStackedWidget(parent)
    , model_(model)
    , preferences_(preferences)
    , playback_(playback)
    , loader_(loader)
{
    setObjectName(QStringLiteral("transferList"));
    emptyState_ = makeEmptyState(this);
    addWidget(emptyState_);

    cardScroll_ = makeScrollArea(this, QStringLiteral("cardScroll"));
    auto* cardContent = new QWidget(cardScroll_);
    cardLayout_ = new QVBoxLayout(cardContent);
    cardLayout_->setContentsMargins(16, 16, 16, 16);
    cardLayout_->setSpacing(cardSpacing);
    cardLayout_->addStretch();
    cardScroll_->setWidget(cardContent);
    addWidget(cardScroll_);

    listScroll_ = makeScrollArea(this, QStringLiteral("listScroll"));
    addWidget(listScroll_);

    connect(&model_, &TransferReceiverModel::recentTransfersChanged, this, &TransferListView::showTransfers);
    connect(&model_, &TransferReceiverModel::activeReceivesChanged, this, &TransferListView::showTransfers);
    connect(&preferences_, &UserPreferences::listBySourceChanged, this, &TransferListView::showTransfers);
    connect(&preferences_, &UserPreferences::showAudioWaveformChanged, this, [this](bool show) {
        for (auto* card : std::as_const(cardRows_)) {
            card->setShowWaveform(show);
        }
    });
    showTransfers();
}

TransferListView::Mode TransferListView::mode() const
{
    if (currentWidget() == emptyState_) {
        return Mode::empty;
    }
    return currentWidget() == cardScroll_ ? Mode::cards : Mode::list;
}

void TransferListView::showTransfers()
{
    if (model_.recentTransfers().isEmpty() && model_.activeReceives().isEmpty()) {
        showCards(); // drops the rows of what went away
        setCurrentWidget(emptyState_);
        return;
    }
    if (preferences_.listBySource()) {
        showList();
        setCurrentWidget(listScroll_);
    } else {
        showCards();
        setCurrentWidget(cardScroll_);
    }
}

ActiveReceiveRow* TransferListView::makeActiveRow(const TransferReceiveProgress& progress, QWidget* parent)
{
    auto* row = new ActiveReceiveRow(progress, parent);
    connect(row, &ActiveReceiveRow::cancelRequested, &model_, &TransferReceiverModel::cancelReceive);
    return row;
}

// Updates the in-flight rows of `layout` (which start at `insertAt`) to the model's list: existing
// rows take the new values, new uploads get a row, finished ones lose theirs.
void TransferListView::showActiveReceives(QVBoxLayout* layout, QHash<QString, ActiveReceiveRow*>& rows, int insertAt)
{
    QHash<QString, ActiveReceiveRow*> kept;
    int position = insertAt;
    for (const auto& progress : model_.activeReceives()) {
        ActiveReceiveRow* row = rows.take(key(progress.id));
        if (row == nullptr) {
            row = makeActiveRow(progress, layout->parentWidget());
        } else {
            row->setProgress(progress);
        }
        layout->insertWidget(position++, row);
        kept.insert(key(progress.id), row);
    }
    for (auto* gone : std::as_const(rows)) {
        gone->deleteLater();
    }
    rows = std::move(kept);
}

void TransferListView::showCards()
{
    showActiveReceives(cardLayout_, cardActiveRows_, 0);
    QHash<QString, TransferRow*> kept;
    int position = static_cast<int>(cardActiveRows_.size());
    for (const auto& record : model_.recentTransfers()) {
        TransferRow* card = cardRows_.take(key(record.id));
        if (card == nullptr) {
            card = new TransferRow(record, preferences_.showAudioWaveform(), playback_, loader_,
                                   cardLayout_->parentWidget());
            const QString path = QString::fromStdString(record.fileURL.string());
            connect(card, &TransferRow::revealRequested, this, [path] { revealInFileManager(path); });
        }
        cardLayout_->insertWidget(position++, card);
        kept.insert(key(record.id), card);
    }
    for (auto* gone : std::as_const(cardRows_)) {
        gone->deleteLater();
    }
    cardRows_ = std::move(kept);
}

void TransferListView::showList()
{
    // In-flight rows only change their numbers often; a new set of records regroups the whole list.
    const auto sections = sourceSections(model_.recentTransfers());
    QStringList titles;
    for (const auto& section : sections) {
        titles.append(section.source);
    }
    QStringList ids;
    for (const auto& record : model_.recentTransfers()) {
        ids.append(key(record.id));
    }
    const bool sameRecords = listContent_ != nullptr && ids == listRecordIDs_;
    if (!sameRecords) {
        if (listContent_ != nullptr) {
            listContent_->deleteLater();
        }
        listActiveRows_.clear();
        listContent_ = new QWidget(listScroll_);
        auto* layout = new QVBoxLayout(listContent_);
        layout->setContentsMargins(12, 12, 12, 12);
        layout->setSpacing(2);
        auto* activeHeader = new QLabel(QStringLiteral("正在接收"), listContent_);
        activeHeader->setObjectName(QStringLiteral("activeSectionHeader"));
        useFont(activeHeader, subheadlineFont);
        layout->addWidget(activeHeader);
        listActiveLayout_ = new QVBoxLayout;
        layout->addLayout(listActiveLayout_);
        for (const auto& section : sections) {
            layout->addWidget(new TransferSourceSectionHeader(section.source, static_cast<int>(section.records.size()),
                                                              listContent_));
            int index = 0;
            for (const auto& record : section.records) {
                auto* row = new TransferFinderListRow(record, loader_, listContent_);
                row->setAutoFillBackground(true);
                row->setBackgroundRole(index++ % 2 == 0 ? QPalette::Base : QPalette::AlternateBase);
                const QString path = QString::fromStdString(record.fileURL.string());
                connect(row, &TransferFinderListRow::revealRequested, this, [path] { revealInFileManager(path); });
                layout->addWidget(row);
            }
        }
        layout->addStretch();
        listScroll_->setWidget(listContent_);
        listSections_ = titles;
        listRecordIDs_ = ids;
    }
    auto* header = listContent_->findChild<QLabel*>(QStringLiteral("activeSectionHeader"));
    header->setVisible(!model_.activeReceives().isEmpty());
    showActiveReceives(listActiveLayout_, listActiveRows_, 0);
}

QList<TransferRow*> TransferListView::cards() const
{
    QList<TransferRow*> ordered;
    for (int i = 0; i < cardLayout_->count(); ++i) {
        if (auto* card = qobject_cast<TransferRow*>(cardLayout_->itemAt(i)->widget())) {
            ordered.append(card);
        }
    }
    return ordered;
}

QList<ActiveReceiveRow*> TransferListView::activeRows() const
{
    QVBoxLayout* layout = mode() == Mode::list ? listActiveLayout_ : cardLayout_;
    QList<ActiveReceiveRow*> ordered;
    if (layout == nullptr) {
        return ordered;
    }
    for (int i = 0; i < layout->count(); ++i) {
        if (auto* row = qobject_cast<ActiveReceiveRow*>(layout->itemAt(i)->widget())) {
            ordered.append(row);
        }
    }
    return ordered;
}

QStringList TransferListView::listSections() const
{
    return listSections_;
}

} // namespace ferrylantern
