#include "ui/NotificationTexts.h"

#include "ui/TransferTexts.h"

namespace ferrylantern {

namespace {

QString namesLine(qsizetype count, const QStringList& firstNames)
{
    QStringList names;
    for (const auto& name : firstNames.mid(0, namesListedInNotifications)) {
        names << singleLineText(name);
    }
    QString line = names.join(QStringLiteral("、"));
    if (count > names.size()) {
        line += QStringLiteral("…及其他 %1 个文件").arg(count - names.size());
    }
    return line;
}

QString sourceText(const QString& deviceFolder)
{
    const QString source = singleLineText(deviceFolder).trimmed();
    return source.isEmpty() ? QStringLiteral("未分类") : source;
}

} // namespace

QString singleLineText(const QString& text)
{
    QString line = text;
    for (QChar& c : line) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator) {
            c = QLatin1Char(' ');
        }
    }
    return line;
}

QString receivedFilesSummary(qsizetype count)
{
    return count < 2 ? QStringLiteral("收到文件") : QStringLiteral("收到 %1 个文件").arg(count);
}

QString receivedFilesBody(const QString& source, qsizetype count, const QStringList& firstNames)
{
    return QStringLiteral("来自：") + sourceText(source) + QLatin1Char('\n') + namesLine(count, firstNames);
}

QString receiveQuestionSummary(qsizetype count, ReceiveKind kind)
{
    if (count < 2) {
        return kind == ReceiveKind::text ? QStringLiteral("是否接收文字？") : QStringLiteral("是否接收文件？");
    }
    return QStringLiteral("是否接收 %1 个文件？").arg(count);
}

QString receiveQuestionBody(const QList<PendingReceiveConfirmation>& queue)
{
    if (queue.isEmpty()) {
        return {};
    }
    const auto& head = queue.first();
    if (queue.size() < 2) {
        const QString what = head.kind == ReceiveKind::text ? QStringLiteral("文字：") : QStringLiteral("文件名：");
        return what + singleLineText(head.fileName) + QStringLiteral("\n大小：") + fileSizeText(head.byteCount) +
               QStringLiteral("\n来源：") + sourceText(head.deviceFolder);
    }
    QStringList names;
    for (const auto& pending : queue.mid(0, namesListedInNotifications)) {
        names << pending.fileName;
    }
    return namesLine(queue.size(), names) + QStringLiteral("\n来源：") + sourceText(head.deviceFolder);
}

QString duplicateQuestionBody(const PendingDuplicateResolution& question)
{
    return QStringLiteral("文件名：") + singleLineText(question.fileName) + QStringLiteral("\n来源：") +
           sourceText(question.deviceFolder);
}

} // namespace ferrylantern
