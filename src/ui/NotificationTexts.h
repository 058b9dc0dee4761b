// The texts of FerryLantern's desktop notifications: files received from one device, and a question
// that waits for the user. Names come from the phone and are plain text here; the notification client
// escapes them for servers that read markup.
//
// Pure functions of their arguments and the default locale; thread-safe.
#pragma once

#include "receiver/ReceiverTypes.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace ferrylantern {

// How many file names a notification lists before it counts the rest.
inline constexpr qsizetype namesListedInNotifications = 3;

// A sender's name made fit for one line: line breaks and other control characters become spaces.
QString singleLineText(const QString& text);

// "收到文件" for one, "收到 N 个文件" for more.
QString receivedFilesSummary(qsizetype count);
// "来自：DEVICE" and the names: the first three joined by "、", then "…及其他 N 个文件".
QString receivedFilesBody(const QString& source, qsizetype count, const QStringList& firstNames);

// The receive dialog's own question: "是否接收文件？" or "是否接收 N 个文件？".
// "是否接收文字？" when the one question is about a text.
QString receiveQuestionSummary(qsizetype count, ReceiveKind kind = ReceiveKind::file);
// One file: "文件名：…\n大小：…\n来源：…" ("文字：…" for a text); a batch: its names as above, then
// "来源：…".
QString receiveQuestionBody(const QList<PendingReceiveConfirmation>& queue);
// "文件名：…\n来源：…" of a file whose name exists already.
QString duplicateQuestionBody(const PendingDuplicateResolution& question);

} // namespace ferrylantern
