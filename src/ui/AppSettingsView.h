// The settings window "设置": the appearance ("配色"), the upload PIN ("安全") and what FerryLantern does
// in the background ("通知与后台": notifications, staying in the tray, starting at login), each section
// with a footer that explains the current choice. Changes apply at once and show in every other view of
// the same preferences.
//
// GUI thread only (a widget).
#pragma once

#include "ui/AppAppearanceSettings.h"

#include <QWidget>

#include <map>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace ferrylantern {

class LoginAutostart;
class UserPreferences;

// The footer of the security section: off, on without a full PIN (shown in orange), or on with one.
struct PINFooter
{
    QString text;
    bool isWarning = false;
};
PINFooter pinFooter(bool pinEnabled, const QString& pinCode);

// What the background section works with: the autostart entry (none hides its switch) and whether
// the desktop has a tray to keep running in.
struct AppSettingsPresence
{
    const LoginAutostart* autostart = nullptr;
    bool trayAvailable = false;
};

class AppSettingsView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppSettingsView)

public:
    static constexpr int windowWidth = 420;

    explicit AppSettingsView(UserPreferences& preferences, AppSettingsPresence presence = {},
                             QWidget* parent = nullptr);

    QRadioButton* appearanceButton(AppAppearanceSettings appearance) const;
    QCheckBox* pinSwitch() const { return pinSwitch_; }
    QLineEdit* pinEntry() const { return pinEntry_; }
    QLabel* securityFooter() const { return securityFooter_; }
    QCheckBox* notificationsSwitch() const { return notificationsSwitch_; }
    QCheckBox* keepInTraySwitch() const { return keepInTraySwitch_; }
    QCheckBox* startAtLoginSwitch() const { return startAtLoginSwitch_; }
    QCheckBox* copyTextsSwitch() const { return copyTextsSwitch_; }
    QLabel* presenceFooter() const { return presenceFooter_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void showAppearance();
    void showPIN();
    void pinEdited(const QString& text);
    QWidget* makePresencePanel();
    void showPresence();
    void setStartAtLogin(bool on);

    UserPreferences& preferences_;
    QButtonGroup* appearanceGroup_;
    std::map<AppAppearanceSettings, QRadioButton*> appearanceButtons_;
    QCheckBox* pinSwitch_;
    QLineEdit* pinEntry_;
    QLabel* securityFooter_;
    AppSettingsPresence presence_;
    QCheckBox* notificationsSwitch_ = nullptr;
    QCheckBox* keepInTraySwitch_ = nullptr;
    QCheckBox* startAtLoginSwitch_ = nullptr;
    QCheckBox* copyTextsSwitch_ = nullptr;
    QLabel* presenceFooter_ = nullptr;
    bool autostartFailed_ = false;
};

} // namespace ferrylantern
