#include "ui/ConfirmationMessages.h"

#include "ui/TransferTexts.h"

namespace ferrylantern {

namespace {

constexpr qsizetype listedFiles = 8;

} // namespace

QString receiveMessage(const ReceiveConfirmationAlertItem& item, const QList<PendingReceiveConfirmation>& queue)
{
    const QString tail =
        QStringLiteral("\n确认后将开始传输。点「全部拒绝」后，所选文件在手机端均显示为传输失败。\n来源：") +
        item.pending.deviceFolder;
    // A text is named by the start of its first line.
    const auto shownName = [](const PendingReceiveConfirmation& pending) {
        return pending.kind == ReceiveKind::text ? QStringLiteral("文字“") + pending.fileName + QStringLiteral("”")
                                                 : pending.fileName;
    };
    if (queue.size() < 2) {
        const QString what =
            item.pending.kind == ReceiveKind::text ? QStringLiteral("文字：") : QStringLiteral("文件名：");
        return what + item.pending.fileName + QStringLiteral("\n大小：") + fileSizeText(item.pending.byteCount) + tail;
    }
    QStringList lines;
    for (qsizetype i = 0; i < std::min(queue.size(), listedFiles); ++i) {
        lines.append(
            QStringLiteral("%1. %2（%3）").arg(i + 1).arg(shownName(queue[i]), fileSizeText(queue[i].byteCount)));
    }
    if (queue.size() > listedFiles) {
        lines.append(QStringLiteral("…及其他 %1 个文件").arg(queue.size() - listedFiles));
    }
    return QStringLiteral("共 %1 个文件等待确认：\n").arg(queue.size()) + lines.join(QLatin1Char('\n')) + tail;
}

QString duplicateMessage(const DuplicateResolutionAlertItem& item)
{
    const auto& pending = item.pending;
    QString text = QStringLiteral("目标文件夹中已有同名文件。\n文件名：") + pending.fileName +
                   QStringLiteral("\n来源：") + pending.deviceFolder + QStringLiteral("\n已有文件：") +
                   pending.existingFilePath;
    if (item.queueCount >= 2) {
        text += QStringLiteral("\n\n共 %1 个同名冲突等待处理。点「全部拒绝」后，本批文件在手机端均显示为传输失败。")
                    .arg(item.queueCount);
    }
    return text;
}

} // namespace ferrylantern
