#include "audio/AudioStreamFormat.h"

#include <algorithm>
#include <charconv>

namespace ferrylantern {

namespace {

constexpr int hertzPerKilohertz = 1000;
const QString separator = QStringLiteral(" \u00B7 ");

bool extensionIn(const QString& fileName, const auto& extensions)
{
    const QByteArray extension = lowercasedExtension(fileName).toUtf8();
    const std::string_view wanted(extension.constData(), static_cast<std::size_t>(extension.size()));
    return std::find(extensions.begin(), extensions.end(), wanted) != extensions.end();
}

// "%.1f" without the C library's locale: Qt applications switch LC_NUMERIC to the user's locale, which
// would print "44,1".
QString oneDecimal(double value)
{
    char text[64];
    const auto result = std::to_chars(std::begin(text), std::end(text), value, std::chars_format::fixed, 1);
    return QString::fromLatin1(text, static_cast<qsizetype>(result.ptr - text));
}

} // namespace

QString lowercasedExtension(const QString& fileNameOrPath)
{
    const QString name = fileNameOrPath.section(QLatin1Char('/'), -1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1).toLower();
}

bool isAudioFileName(const QString& fileName)
{
    return extensionIn(fileName, audioFileExtensions);
}

std::optional<QString> captionText(const AudioStreamFormat& format)
{
    if (format.sampleRateHz < 1) {
        return std::nullopt;
    }
    QString text = format.sampleRateHz % hertzPerKilohertz == 0
                       ? QString::number(format.sampleRateHz / hertzPerKilohertz)
                       : oneDecimal(static_cast<double>(format.sampleRateHz) / hertzPerKilohertz);
    text += QStringLiteral(" kHz");
    if (format.bitDepth >= 1) {
        text += separator + QString::number(format.bitDepth) + QStringLiteral("-bit");
    } else if (format.bitrateKbps >= 1) {
        text += separator + QString::number(format.bitrateKbps) + QStringLiteral(" kbps");
    }
    return text;
}

} // namespace ferrylantern
