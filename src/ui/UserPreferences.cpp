#include "ui/UserPreferences.h"

#include "server/PINRules.h"
#include "server/TransferPINSessionStore.h"

namespace ferrylantern {

UserPreferences& UserPreferences::shared()
{
    static UserPreferences* const instance = new UserPreferences(); // lives as long as the process
    return *instance;
}

UserPreferences::UserPreferences(preferences::PreferenceScope scope, QObject* parent)
    : QObject(parent)
    , scope_(std::move(scope))
{}

QVariant UserPreferences::value(const char* key, const QVariant& fallback) const
{
    return scope_.open()->value(QLatin1String(key), fallback);
}

void UserPreferences::store(const char* key, const QVariant& newValue)
{
    scope_.open()->setValue(QLatin1String(key), newValue);
}

QByteArray UserPreferences::mainWindowGeometry() const
{
    return value(preferences::mainWindowGeometry, {}).toByteArray();
}

QByteArray UserPreferences::mainWindowSplitterState() const
{
    return value(preferences::mainWindowSplitterState, {}).toByteArray();
}

void UserPreferences::setMainWindowLayout(const QByteArray& geometry, const QByteArray& splitterState)
{
    store(preferences::mainWindowGeometry, geometry);
    store(preferences::mainWindowSplitterState, splitterState);
}

QString UserPreferences::colorSchemeRawValue() const
{
    return value(preferences::appColorSchemePreference, QLatin1String(preferences::defaultAppColorScheme)).toString();
}

void UserPreferences::setColorSchemeRawValue(const QString& rawValue)
{
    if (rawValue != colorSchemeRawValue()) {
        store(preferences::appColorSchemePreference, rawValue);
        emit colorSchemeRawValueChanged(rawValue);
    }
}

bool UserPreferences::showAudioWaveform() const
{
    return value(preferences::showAudioWaveform, preferences::defaultShowAudioWaveform).toBool();
}

void UserPreferences::setShowAudioWaveform(bool show)
{
    if (show != showAudioWaveform()) {
        store(preferences::showAudioWaveform, show);
        emit showAudioWaveformChanged(show);
    }
}

bool UserPreferences::listBySource() const
{
    return value(preferences::listBySource, preferences::defaultListBySource).toBool();
}

void UserPreferences::setListBySource(bool bySource)
{
    if (bySource != listBySource()) {
        store(preferences::listBySource, bySource);
        emit listBySourceChanged(bySource);
    }
}

bool UserPreferences::pinEnabled() const
{
    return value(preferences::transferPINEnabled, preferences::defaultTransferPINEnabled).toBool();
}

void UserPreferences::setPINEnabled(bool enabled)
{
    if (enabled != pinEnabled()) {
        store(preferences::transferPINEnabled, enabled);
        TransferPINSessionStore::shared().removeAll();
        emit pinEnabledChanged(enabled);
    }
}

QString UserPreferences::pinCode() const
{
    return value(preferences::transferPINCode, QString()).toString();
}

void UserPreferences::setPINCode(const QString& code)
{
    if (code != pinCode()) {
        store(preferences::transferPINCode, code);
        TransferPINSessionStore::shared().removeAll();
        emit pinCodeChanged(code);
    }
}

bool UserPreferences::notificationsEnabled() const
{
    return value(preferences::notificationsEnabled, preferences::defaultNotificationsEnabled).toBool();
}

void UserPreferences::setNotificationsEnabled(bool enabled)
{
    if (enabled != notificationsEnabled()) {
        store(preferences::notificationsEnabled, enabled);
        emit notificationsEnabledChanged(enabled);
    }
}

bool UserPreferences::keepRunningInTray() const
{
    return value(preferences::keepRunningInTray, preferences::defaultKeepRunningInTray).toBool();
}

void UserPreferences::setKeepRunningInTray(bool keep)
{
    if (keep != keepRunningInTray()) {
        store(preferences::keepRunningInTray, keep);
        emit keepRunningInTrayChanged(keep);
    }
}

bool UserPreferences::copyReceivedTextToClipboard() const
{
    return value(preferences::copyReceivedTextToClipboard, preferences::defaultCopyReceivedTextToClipboard).toBool();
}

void UserPreferences::setCopyReceivedTextToClipboard(bool copy)
{
    if (copy != copyReceivedTextToClipboard()) {
        store(preferences::copyReceivedTextToClipboard, copy);
        emit copyReceivedTextToClipboardChanged(copy);
    }
}

bool UserPreferences::isPINRequired() const
{
    return ferrylantern::isPINRequired(scope_.pinSettings());
}

} // namespace ferrylantern
