// The finished transfers kept across restarts: one small JSON file under the user's data folder
// ($XDG_DATA_HOME/FerryLantern/recent-transfers.json), newest first, at most a hundred records,
// written atomically so a crash leaves either the old list or the new one.
//
//   TransferHistoryStore store(TransferHistoryStore::defaultLocation());
//   auto loaded = store.load(100);         // never fails: a damaged file is set aside
//   store.save(model.recentTransfers());   // false when the file could not be written
//
// Thread-compatible; the receiver model uses it on the GUI thread only.
#pragma once

#include "server/ServerCallbacks.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace ferrylantern {

class TransferHistoryStore
{
public:
    // Where the application keeps its history.
    static QString defaultLocation();

    explicit TransferHistoryStore(QString file);

    const QString& file() const { return file_; }

    struct Loaded
    {
        QList<ReceivedFileRecord> records;
        // Where a damaged history file was moved to; none when the file was sound or absent.
        std::optional<QString> setAsidePath;
    };

    // The stored records, newest first, at most `limit`. A missing file is an empty history. A file
    // that is not a history this program wrote (bad JSON, wrong shape, a record without its fields)
    // is renamed aside to "<file>.damaged-<time>" and the history starts empty; when even the rename
    // fails the file is left where it is and will be overwritten by the next save.
    [[nodiscard]] Loaded load(qsizetype limit) const;

    // Replaces the stored history with `records` in one atomic step, creating the folder when needed.
    [[nodiscard]] bool save(const QList<ReceivedFileRecord>& records) const;

    // The file's bytes for `records`, and the records read back from such bytes (none when damaged).
    static QByteArray encode(const QList<ReceivedFileRecord>& records);
    static std::optional<QList<ReceivedFileRecord>> decode(const QByteArray& bytes);

private:
    QString file_;
};

} // namespace ferrylantern
