// The texts the transfer rows show: sizes, receive dates, the time of a card and the share of an upload
// received so far.
//
// Pure functions of their arguments and the default locale; thread-safe.
#pragma once

#include "server/ServerCallbacks.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <cstdint>
#include <optional>

namespace ferrylantern {

// A received file's location and names as the views use them.
QUrl fileURLOf(const ReceivedFileRecord& record);
QString fileNameOf(const ReceivedFileRecord& record);
QString deviceFolderOf(const ReceivedFileRecord& record);

// The size in the file style: decimal multiples (1 kB = 1000 bytes), one decimal, in the default locale.
QString fileSizeText(std::int64_t byteCount);

// The receive date of a row: the numeric date and the short time, in the default locale.
QString receivedDateText(const QDateTime& receivedAt);
QDateTime toDateTime(std::chrono::system_clock::time_point time);

// The time text of a card: the controller's text while the card's file is the active one; else the
// file's duration when it is known and above 0; else "--:--.--".
QString cardTimeText(bool isActive, const QString& controllerText, std::optional<double> durationSeconds);

// The filled share of an upload's progress bar: received ÷ total, at most 1, and 0 when the total is
// below 1 byte (or the received count is negative).
double receiveFraction(std::int64_t bytesReceived, std::int64_t totalBytes);

// "12.3 MB / 45.6 MB".
QString receiveProgressText(std::int64_t bytesReceived, std::int64_t totalBytes);

// "来自：" and the device folder, or nothing when the folder is empty or only white space.
std::optional<QString> sourceLineText(const QString& deviceFolder);
// "发往：" and who downloads, for a download in flight; nothing when blank.
std::optional<QString> destinationLineText(const QString& deviceFolder);

// The first `maxLines` lines of a received text that say something (blank lines before them skipped,
// trailing white space dropped), and whether more of the text follows them.
struct TextLines
{
    QStringList lines;
    bool isCut = false;
};
TextLines firstTextLines(const QString& text, qsizetype maxLines);

// The web address a text consists of, when it is nothing but one http or https URL (white space around
// it allowed): what "打开链接" opens. Anything else (words around it, two links, another scheme such
// as file: or javascript:, a URL without a host) is no link, so a text never opens more than it shows.
std::optional<QUrl> singleWebLink(const QString& text);

} // namespace ferrylantern
