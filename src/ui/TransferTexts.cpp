#include "ui/TransferTexts.h"

#include "audio/AudioPlaybackController.h"

#include <QLocale>

#include <algorithm>

namespace ferrylantern {

namespace {

constexpr int sizeDecimals = 1;

} // namespace

QUrl fileURLOf(const ReceivedFileRecord& record)
{
    return QUrl::fromLocalFile(QString::fromStdString(record.fileURL.string()));
}

QString fileNameOf(const ReceivedFileRecord& record)
{
    return QString::fromStdString(record.fileName);
}

QString deviceFolderOf(const ReceivedFileRecord& record)
{
    return QString::fromStdString(record.deviceFolder);
}

QString fileSizeText(std::int64_t byteCount)
{
    return QLocale().formattedDataSize(byteCount, sizeDecimals, QLocale::DataSizeSIFormat);
}

QString receivedDateText(const QDateTime& receivedAt)
{
    const QLocale locale;
    return locale.toString(receivedAt.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(receivedAt.time(), QLocale::ShortFormat);
}

QDateTime toDateTime(std::chrono::system_clock::time_point time)
{
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
    return QDateTime::fromMSecsSinceEpoch(milliseconds.count());
}

QString cardTimeText(bool isActive, const QString& controllerText, std::optional<double> durationSeconds)
{
    if (isActive) {
        return controllerText;
    }
    if (durationSeconds && *durationSeconds > 0) {
        return AudioPlaybackController::formatTime(*durationSeconds);
    }
    return AudioPlaybackController::noTimeText;
}

double receiveFraction(std::int64_t bytesReceived, std::int64_t totalBytes)
{
    if (totalBytes < 1 || bytesReceived <= 0) {
        return 0;
    }
    return std::min(static_cast<double>(bytesReceived) / static_cast<double>(totalBytes), 1.0);
}

QString receiveProgressText(std::int64_t bytesReceived, std::int64_t totalBytes)
{
    return fileSizeText(bytesReceived) + QStringLiteral(" / ") + fileSizeText(totalBytes);
}

std::optional<QString> sourceLineText(const QString& deviceFolder)
{
    // A folder of nothing but white space names no source either.
    if (deviceFolder.trimmed().isEmpty()) {
        return std::nullopt;
    }
    return QStringLiteral("来自：") + deviceFolder;
}

std::optional<QString> destinationLineText(const QString& deviceFolder)
{
    if (deviceFolder.trimmed().isEmpty()) {
        return std::nullopt;
    }
    return QStringLiteral("发往：") + deviceFolder;
}

TextLines firstTextLines(const QString& text, qsizetype maxLines)
{
    TextLines result;
    const QStringList lines = text.split(QLatin1Char('\n'));
    qsizetype line = 0;
    while (line < lines.size() && lines.at(line).trimmed().isEmpty()) {
        ++line;
    }
    for (; line < lines.size() && result.lines.size() < maxLines; ++line) {
        QString shown = lines.at(line);
        while (!shown.isEmpty() && shown.back().isSpace()) {
            shown.chop(1);
        }
        result.lines.append(shown);
    }
    for (; line < lines.size(); ++line) {
        if (!lines.at(line).trimmed().isEmpty()) {
            result.isCut = true;
            break;
        }
    }
    return result;
}

std::optional<QUrl> singleWebLink(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || std::any_of(trimmed.begin(), trimmed.end(), [](QChar c) { return c.isSpace(); })) {
        return std::nullopt;
    }
    const QUrl url(trimmed, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty()) {
        return std::nullopt;
    }
    return url;
}

} // namespace ferrylantern
