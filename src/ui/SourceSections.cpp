#include "ui/SourceSections.h"

#include "server/UnicodeWhitespace.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <map>

namespace ferrylantern {

QList<SourceSection> sourceSections(const QList<ReceivedFileRecord>& records)
{
    std::map<QString, QList<ReceivedFileRecord>> groups;
    for (const auto& record : records) {
        QString source = QString::fromStdString(std::string(trimWhitespaceAndNewlines(record.deviceFolder)));
        if (source.isEmpty()) {
            source = QString::fromUtf8(uncategorisedSource);
        }
        groups[source].append(record);
    }
    // Qt's collation in the C locale is a plain code-point comparison; numbers need a real locale.
    const QLocale locale = QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale();
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    QList<SourceSection> sections;
    for (auto& [source, group] : groups) {
        std::stable_sort(group.begin(), group.end(),
                         [](const auto& a, const auto& b) { return a.receivedAt > b.receivedAt; });
        sections.append({source, std::move(group)});
    }
    std::stable_sort(sections.begin(), sections.end(), [&](const SourceSection& a, const SourceSection& b) {
        return collator.compare(a.source, b.source) < 0;
    });
    return sections;
}

} // namespace ferrylantern
