#include "ui/SourceSections.h"

#include "server/UnicodeWhitespace.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <map>

namespace ferrylantern {

QString sourceOf(const ReceivedFileRecord& record)
{
    QString source = QString::fromStdString(std::string(trimWhitespaceAndNewlines(record.deviceFolder)));
    return source.isEmpty() ? QString::fromUtf8(uncategorisedSource) : source;
}

bool sourceComesBefore(const QString& a, const QString& b)
{
    // Qt's collation in the C locale is a plain code-point comparison; numbers need a real locale.
    static const QCollator collator = [] {
        QCollator made(QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale());
        made.setNumericMode(true);
        made.setCaseSensitivity(Qt::CaseInsensitive);
        return made;
    }();
    return collator.compare(a, b) < 0;
}

QList<SourceSection> sourceSections(const QList<ReceivedFileRecord>& records)
{
    std::map<QString, QList<ReceivedFileRecord>> groups;
    for (const auto& record : records) {
        groups[sourceOf(record)].append(record);
    }
    QList<SourceSection> sections;
    for (auto& [source, group] : groups) {
        std::stable_sort(group.begin(), group.end(),
                         [](const auto& a, const auto& b) { return a.receivedAt > b.receivedAt; });
        sections.append({source, std::move(group)});
    }
    std::stable_sort(sections.begin(), sections.end(), [](const SourceSection& a, const SourceSection& b) {
        return sourceComesBefore(a.source, b.source);
    });
    return sections;
}

} // namespace ferrylantern
