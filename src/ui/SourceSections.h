// The list-by-source layout of the finished transfers: one section per sending device, sections in
// file-browser order ("2" before "10", case ignored), files newest first within a section, records
// without a device folder under "未分类".
#pragma once

#include "server/ServerCallbacks.h"

#include <QList>
#include <QString>

namespace ferrylantern {

struct SourceSection
{
    QString source;
    QList<ReceivedFileRecord> records;
};

inline constexpr auto uncategorisedSource = "未分类";

QList<SourceSection> sourceSections(const QList<ReceivedFileRecord>& records);

// The section a record belongs to: its trimmed device folder, or "未分类".
QString sourceOf(const ReceivedFileRecord& record);
// The order of sections: file-browser order, numbers by value, case ignored.
bool sourceComesBefore(const QString& a, const QString& b);

} // namespace ferrylantern
