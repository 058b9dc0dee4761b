// Starting FerryLantern when the user logs in: an XDG autostart entry
// ($XDG_CONFIG_HOME/autostart/org.ferrylantern.FerryLantern.desktop) that runs this program with
// --hidden, so it starts receiving in the tray without opening its window. The entry itself is the
// setting: the desktop's own list of startup programs may remove or disable it, and what it says is
// what the settings window shows.
//
//   LoginAutostart autostart;
//   if (!autostart.setEnabled(true)) …      // the folder or the file could not be written
//
// Thread-compatible (files only).
#pragma once

#include <QString>

namespace ferrylantern {

// The command-line option that starts the application hidden (in the tray, receiving).
inline constexpr auto startHiddenOption = "--hidden";

// `argument` as one argument of a desktop entry's Exec key: quoted where it holds a reserved
// character, with the quoting and the string escapes freedesktop desktop entries ask for.
QString desktopExecArgument(const QString& argument);

class LoginAutostart
{
public:
    // $XDG_CONFIG_HOME/autostart/ and the application's desktop file name.
    static QString defaultEntryPath();

    // `program` is what the entry runs (this program's path by default).
    explicit LoginAutostart(QString entryPath = defaultEntryPath(), QString program = {});

    const QString& entryPath() const { return entryPath_; }

    // The entry exists and is not switched off (Hidden=true, or GNOME's X-GNOME-Autostart-enabled=false).
    bool isEnabled() const;
    // Writes the entry (atomically) or removes it. False when that failed; nothing changed then.
    [[nodiscard]] bool setEnabled(bool enabled) const;

    // The entry's text for `program`.
    static QString entryText(const QString& program);

private:
    QString entryPath_;
    QString program_;
};

} // namespace ferrylantern
