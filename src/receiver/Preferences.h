// The keys of the user preference store, their types and defaults, shared by the model, the server's
// PIN check and the settings views. One QSettings scope holds them all: the application's own
// (organisation and application "FerryLantern") or, for ferrylantern-server, a file of its own.
#pragma once

#include "server/PINRules.h"

#include <QSettings>
#include <QString>

#include <memory>

namespace ferrylantern::preferences {

inline constexpr auto appColorSchemePreference = "appColorSchemePreference";     // text, "dark"
inline constexpr auto showAudioWaveform = "showAudioWaveform";                   // bool, true
inline constexpr auto listBySource = "ferryLanternsListBySource";                // bool, false
inline constexpr auto transferPINEnabled = "transferPINEnabled";                 // bool, false
inline constexpr auto transferPINCode = "transferPINCode";                       // text, empty
inline constexpr auto requireReceiveConfirmation = "requireReceiveConfirmation"; // bool, false
inline constexpr auto saveDirectoryUserSelected = "saveDirectoryUserSelected";   // bool, false
inline constexpr auto saveDirectoryBookmark = "saveDirectoryBookmark";           // bytes, absent
// Where the main window was and how its columns were split when it last closed.
inline constexpr auto mainWindowGeometry = "mainWindowGeometry";           // bytes, absent
inline constexpr auto mainWindowSplitterState = "mainWindowSplitterState"; // bytes, absent
// Desktop notifications for received files and waiting questions.
inline constexpr auto notificationsEnabled = "notificationsEnabled"; // bool, true
// Closing the main window leaves FerryLantern receiving in the tray (only where there is a tray).
inline constexpr auto keepRunningInTray = "keepRunningInTray"; // bool, true
// Each text received from a phone goes to the clipboard as soon as it arrives.
inline constexpr auto copyReceivedTextToClipboard = "copyReceivedTextToClipboard"; // bool, false

// Values read when a key is absent.
inline constexpr auto defaultAppColorScheme = "dark";
inline constexpr bool defaultShowAudioWaveform = true;
inline constexpr bool defaultListBySource = false;
inline constexpr bool defaultTransferPINEnabled = false;
inline constexpr bool defaultNotificationsEnabled = true;
inline constexpr bool defaultKeepRunningInTray = true;
inline constexpr bool defaultCopyReceivedTextToClipboard = false;

// Where the preferences live. Thread-safe: every call opens its own QSettings, which Qt allows from
// any thread.
class PreferenceScope
{
public:
    // The application's scope.
    PreferenceScope() = default;
    // A settings file of its own (INI format).
    explicit PreferenceScope(QString file)
        : file_(std::move(file))
    {}

    std::unique_ptr<QSettings> open() const;

    // The PIN settings as the server reads them on every request.
    PINSettings pinSettings() const;
    PINSettingsProvider pinSettingsProvider() const;

private:
    QString file_;
};

} // namespace ferrylantern::preferences
