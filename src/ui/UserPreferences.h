// The user preferences the windows show and change: appearance, waveforms on cards, the list by
// source and the PIN. Every view of the process holds the same object, so a change made in one
// window shows in the others at once.
//
// GUI thread only. Values are read from and written to the preference store at once; a setter given
// the value already stored notifies nobody.
//
//     auto& preferences = UserPreferences::shared();
//     connect(&preferences, &UserPreferences::pinCodeChanged, field, &PINCodeEntryField::setPINCode);
#pragma once

#include "receiver/Preferences.h"
#include "ui/AppAppearanceSettings.h"

#include <QObject>
#include <QString>

namespace ferrylantern {

class UserPreferences final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UserPreferences)

public:
    // The application's own preferences, created on first use on the GUI thread.
    static UserPreferences& shared();

    explicit UserPreferences(preferences::PreferenceScope scope = {}, QObject* parent = nullptr);

    // "appColorSchemePreference" as stored ("dark" when absent), and read as a case.
    QString colorSchemeRawValue() const;
    AppAppearanceSettings appearance() const { return appAppearanceFromRawValue(colorSchemeRawValue()); }
    void setColorSchemeRawValue(const QString& rawValue);
    void setAppearance(AppAppearanceSettings appearance) { setColorSchemeRawValue(rawValue(appearance)); }

    bool showAudioWaveform() const;
    void setShowAudioWaveform(bool show);

    bool listBySource() const;
    void setListBySource(bool bySource);

    // A change of either PIN key ends every PIN session of the upload pages, so an open page has to
    // verify again before its next upload.
    bool pinEnabled() const;
    void setPINEnabled(bool enabled);
    QString pinCode() const;
    void setPINCode(const QString& code);

    // Desktop notifications of received files and waiting questions.
    bool notificationsEnabled() const;
    void setNotificationsEnabled(bool enabled);
    // Whether closing the main window keeps FerryLantern receiving in the tray, where there is one.
    bool keepRunningInTray() const;
    void setKeepRunningInTray(bool keep);

    // Whether each text received from a phone is put on the clipboard as it arrives.
    bool copyReceivedTextToClipboard() const;
    void setCopyReceivedTextToClipboard(bool copy);

    // Whether the upload page asks for a PIN with the stored values (the server's rule).
    bool isPINRequired() const;

    const preferences::PreferenceScope& scope() const { return scope_; }

    // The main window's size, place and column split as Qt saves them; empty before the first close.
    QByteArray mainWindowGeometry() const;
    QByteArray mainWindowSplitterState() const;
    void setMainWindowLayout(const QByteArray& geometry, const QByteArray& splitterState);

signals:
    void colorSchemeRawValueChanged(const QString& rawValue);
    void showAudioWaveformChanged(bool show);
    void listBySourceChanged(bool bySource);
    void pinEnabledChanged(bool enabled);
    void pinCodeChanged(const QString& code);
    void notificationsEnabledChanged(bool enabled);
    void keepRunningInTrayChanged(bool keep);
    void copyReceivedTextToClipboardChanged(bool copy);

private:
    QVariant value(const char* key, const QVariant& fallback) const;
    void store(const char* key, const QVariant& value);

    preferences::PreferenceScope scope_;
};

} // namespace ferrylantern
