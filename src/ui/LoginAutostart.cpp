#include "ui/LoginAutostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

namespace ferrylantern {

namespace {

// Characters that make an Exec argument need quotes (the freedesktop Desktop Entry rules for "The Exec key").
constexpr QStringView reservedCharacters = u" \t\n\"'\\><~|&;$*?#()`";
// Characters that must carry a backslash inside the quotes.
constexpr QStringView escapedInQuotes = u"\"`$\\";

QString desktopFileName()
{
    const QString name = QGuiApplication::desktopFileName();
    return (name.isEmpty() ? QStringLiteral("org.ferrylantern.FerryLantern") : name) + QStringLiteral(".desktop");
}

} // namespace

QString desktopExecArgument(const QString& argument)
{
    QString quoted = argument;
    if (argument.isEmpty() ||
        std::any_of(argument.begin(), argument.end(), [](QChar c) { return reservedCharacters.contains(c); })) {
        quoted.clear();
        for (const QChar c : argument) {
            if (escapedInQuotes.contains(c)) {
                quoted += QLatin1Char('\\');
            }
            quoted += c;
        }
        quoted = QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    // Then the value's own escapes: a backslash is written twice, a per cent sign too (field codes).
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    quoted.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return quoted;
}

QString LoginAutostart::defaultEntryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart/") +
           desktopFileName();
}

LoginAutostart::LoginAutostart(QString entryPath, QString program)
    : entryPath_(std::move(entryPath))
    , program_(program.isEmpty() ? QCoreApplication::applicationFilePath() : std::move(program))
{}

QString LoginAutostart::entryText(const QString& program)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=FerryLantern\n"
                          "Comment=登录后在后台接收手机发来的文件\n"
                          "Exec=%1 %2\n"
                          "Icon=org.ferrylantern.FerryLantern\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(desktopExecArgument(program), QLatin1String(startHiddenOption));
}

bool LoginAutostart::isEnabled() const
{
    if (!QFileInfo(entryPath_).isFile()) {
        return false;
    }
    QSettings entry(entryPath_, QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    return entry.value(QStringLiteral("Hidden")).toString() != QLatin1String("true") &&
           entry.value(QStringLiteral("X-GNOME-Autostart-enabled")).toString() != QLatin1String("false");
}

bool LoginAutostart::setEnabled(bool enabled) const
{
    if (!enabled) {
        return !QFileInfo::exists(entryPath_) || QFile::remove(entryPath_);
    }
    if (!QDir().mkpath(QFileInfo(entryPath_).absolutePath())) {
        return false;
    }
    QSaveFile file(entryPath_);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    const QByteArray text = entryText(program_).toUtf8();
    if (file.write(text) != text.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace ferrylantern
