// The finished transfers grouped by sending device: a header per source (in file-browser order) with
// its files and texts newest first on alternating backgrounds, below the uploads in flight. Bound to
// the model's list of records: a new one joins its section (which appears when it is the source's
// first), one past the limit leaves its section; the other rows stay as they are.
//
// GUI thread only.
#pragma once

#include "receiver/ReceiverTypes.h"

#include <QList>
#include <QScrollArea>
#include <QStringList>

class QVBoxLayout;

namespace ferrylantern {

class AudioWaveformLoader;
class ReceivedTextRow;
class RecentTransferListModel;
class TransferFinderListRow;
class TransferSourceSectionHeader;
struct ReceivedFileRecord;

class TransferSourceList final : public QScrollArea
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TransferSourceList)

public:
    static constexpr int rowSpacing = 2;

    TransferSourceList(const RecentTransferListModel& records, AudioWaveformLoader& loader, QWidget* parent = nullptr);

    // The place above the sections for the uploads in flight.
    QVBoxLayout* activeSlot() const { return activeSlot_; }
    // The section titles in order.
    QStringList sectionTitles() const;
    // The row of file record `id`; null when it is not listed.
    TransferFinderListRow* rowFor(const Uuid& id) const;
    // The row of text record `id`; null when it is not listed.
    ReceivedTextRow* textRowFor(const Uuid& id) const;

signals:
    // The row of record `id` asked to be taken off the list.
    void removeRequested(const ferrylantern::Uuid& id);

private:
    struct Section
    {
        QString source;
        TransferSourceSectionHeader* header;
        QList<QWidget*> rows; // a TransferFinderListRow or ReceivedTextRow each, newest first
    };

    void insertRecord(const ReceivedFileRecord& record);
    void removeRecords(int first, int last);
    void rebuild();
    Section& sectionFor(const QString& source);
    // The layout position of a section's header.
    int headerPosition(qsizetype sectionIndex) const;
    void showSection(const Section& section);
    QWidget* makeRow(const ReceivedFileRecord& record);
    QWidget* widgetFor(const Uuid& id) const;

    const RecentTransferListModel& records_;
    AudioWaveformLoader& loader_;
    QVBoxLayout* layout_;
    QVBoxLayout* activeSlot_;
    QList<Section> sections_;
};

} // namespace ferrylantern
