#include "ui/TransferSourceList.h"

#include "receiver/RecentTransferListModel.h"
#include "server/Uuid.h"
#include "ui/FileReveal.h"
#include "ui/ReceivedTextRow.h"
#include "ui/SourceSections.h"
#include "ui/TransferFinderListRow.h"
#include "ui/TransferSourceSectionHeader.h"

#include <QDesktopServices>
#include <QVBoxLayout>

#include <algorithm>

namespace ferrylantern {

namespace {

constexpr int contentMargin = 12;
// Layout items above the first section: the slot of the uploads in flight.
constexpr int sectionsStartAt = 1;

const ReceivedFileRecord& recordShownBy(const QWidget* row)
{
    if (const auto* file = qobject_cast<const TransferFinderListRow*>(row)) {
        return file->record();
    }
    return qobject_cast<const ReceivedTextRow*>(row)->record();
}

void retire(QWidget* widget)
{
    widget->hide();
    widget->parentWidget()->layout()->removeWidget(widget);
    widget->deleteLater();
}

} // namespace

TransferSourceList::TransferSourceList(const RecentTransferListModel& records, AudioWaveformLoader& loader,
                                       QWidget* parent)
    : QScrollArea(parent)
    , records_(records)
    , loader_(loader)
{
    setObjectName(QStringLiteral("listScroll"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(this);
    layout_ = new QVBoxLayout(content);
    layout_->setContentsMargins(contentMargin, contentMargin, contentMargin, contentMargin);
    layout_->setSpacing(rowSpacing);
    activeSlot_ = new QVBoxLayout;
    activeSlot_->setContentsMargins(0, 0, 0, 0);
    layout_->addLayout(activeSlot_);
    layout_->addStretch();
    setWidget(content);

    // Records only ever arrive at the top, one at a time; anything else regroups the whole list.
    connect(&records_, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
        for (int row = last; row >= first; --row) {
            insertRecord(records_.records().at(row));
        }
    });
    connect(&records_, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) { removeRecords(first, last); });
    connect(&records_, &QAbstractItemModel::modelReset, this, &TransferSourceList::rebuild);
    connect(&records_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex& last) {
                for (int row = first.row(); row <= last.row(); ++row) {
                    if (auto* shown = rowFor(records_.records().at(row).id)) { // texts are never missing
                        shown->setMissing(records_.isMissing(row));
                    }
                }
            });
    rebuild();
}

QStringList TransferSourceList::sectionTitles() const
{
    QStringList titles;
    for (const auto& section : sections_) {
        titles.append(section.source);
    }
    return titles;
}

QWidget* TransferSourceList::makeRow(const ReceivedFileRecord& record)
{
    if (record.text) {
        auto* row = new ReceivedTextRow(record, ReceivedTextRow::Style::listRow, widget());
        row->setAutoFillBackground(true);
        connect(row, &ReceivedTextRow::openLinkRequested, this,
                [](const QUrl& url) { QDesktopServices::openUrl(url); });
        return row;
    }
    auto* row = new TransferFinderListRow(record, loader_, widget());
    row->setAutoFillBackground(true);
    const QString path = QString::fromStdString(record.fileURL.string());
    connect(row, &TransferFinderListRow::revealRequested, this, [path] { revealInFileManager(path); });
    connect(row, &TransferFinderListRow::removeRequested, this, [this, id = record.id] { emit removeRequested(id); });
    if (const auto modelRow = records_.rowOf(record.id)) {
        row->setMissing(records_.isMissing(*modelRow));
    }
    return row;
}

QWidget* TransferSourceList::widgetFor(const Uuid& id) const
{
    for (const auto& section : sections_) {
        for (auto* row : section.rows) {
            if (recordShownBy(row).id == id) {
                return row;
            }
        }
    }
    return nullptr;
}

TransferFinderListRow* TransferSourceList::rowFor(const Uuid& id) const
{
    return qobject_cast<TransferFinderListRow*>(widgetFor(id));
}

ReceivedTextRow* TransferSourceList::textRowFor(const Uuid& id) const
{
    return qobject_cast<ReceivedTextRow*>(widgetFor(id));
}

int TransferSourceList::headerPosition(qsizetype sectionIndex) const
{
    int position = sectionsStartAt;
    for (qsizetype index = 0; index < sectionIndex; ++index) {
        position += 1 + static_cast<int>(sections_.at(index).rows.size());
    }
    return position;
}

TransferSourceList::Section& TransferSourceList::sectionFor(const QString& source)
{
    const auto found = std::find_if(sections_.begin(), sections_.end(),
                                    [&](const Section& section) { return !sourceComesBefore(section.source, source); });
    if (found != sections_.end() && found->source == source) {
        return *found;
    }
    const auto index = std::distance(sections_.begin(), found);
    auto* header = new TransferSourceSectionHeader(source, 0, widget());
    layout_->insertWidget(headerPosition(index), header);
    return *sections_.insert(index, Section{source, header, {}});
}

void TransferSourceList::insertRecord(const ReceivedFileRecord& record)
{
    auto& section = sectionFor(sourceOf(record));
    const auto index = std::distance(sections_.data(), &section);
    auto* row = makeRow(record);
    layout_->insertWidget(headerPosition(index) + 1, row);
    section.rows.prepend(row);
    showSection(section);
}

void TransferSourceList::removeRecords(int first, int last)
{
    for (int modelRow = first; modelRow <= last; ++modelRow) {
        const Uuid id = records_.records().at(modelRow).id;
        for (qsizetype index = 0; index < sections_.size(); ++index) {
            auto& rows = sections_[index].rows;
            const auto found =
                std::find_if(rows.begin(), rows.end(), [&](const auto* row) { return recordShownBy(row).id == id; });
            if (found == rows.end()) {
                continue;
            }
            retire(*found);
            rows.erase(found);
            if (rows.isEmpty()) {
                retire(sections_.at(index).header);
                sections_.removeAt(index);
            } else {
                showSection(sections_.at(index));
            }
            break;
        }
    }
}

void TransferSourceList::rebuild()
{
    for (const auto& section : std::as_const(sections_)) {
        retire(section.header);
        for (auto* row : section.rows) {
            retire(row);
        }
    }
    sections_.clear();
    int position = sectionsStartAt;
    for (const auto& group : sourceSections(records_.records())) {
        Section section{group.source, new TransferSourceSectionHeader(group.source, 0, widget()), {}};
        layout_->insertWidget(position++, section.header);
        for (const auto& record : group.records) {
            auto* row = makeRow(record);
            layout_->insertWidget(position++, row);
            section.rows.append(row);
        }
        showSection(section);
        sections_.append(std::move(section));
    }
}

// The header's count and the alternating backgrounds of the section's rows.
void TransferSourceList::showSection(const Section& section)
{
    section.header->setSource(section.source, static_cast<int>(section.rows.size()));
    for (qsizetype index = 0; index < section.rows.size(); ++index) {
        section.rows.at(index)->setBackgroundRole(index % 2 == 0 ? QPalette::Base : QPalette::AlternateBase);
    }
}

} // namespace ferrylantern
