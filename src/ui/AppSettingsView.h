// The settings window "设置": the appearance ("配色") and the upload PIN ("安全"), each section with a
// footer that explains the current choice. Changes apply at once and show in every other view of the
// same preferences.
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

class UserPreferences;

// The footer of the security section: off, on without a full PIN (shown in orange), or on with one.
struct PINFooter
{
    QString text;
    bool isWarning = false;
};
PINFooter pinFooter(bool pinEnabled, const QString& pinCode);

class AppSettingsView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppSettingsView)

public:
    static constexpr int windowWidth = 420;

    explicit AppSettingsView(UserPreferences& preferences, QWidget* parent = nullptr);

    QRadioButton* appearanceButton(AppAppearanceSettings appearance) const;
    QCheckBox* pinSwitch() const { return pinSwitch_; }
    QLineEdit* pinEntry() const { return pinEntry_; }
    QLabel* securityFooter() const { return securityFooter_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void showAppearance();
    void showPIN();
    void pinEdited(const QString& text);

    UserPreferences& preferences_;
    QButtonGroup* appearanceGroup_;
    std::map<AppAppearanceSettings, QRadioButton*> appearanceButtons_;
    QCheckBox* pinSwitch_;
    QLineEdit* pinEntry_;
    QLabel* securityFooter_;
};

} // namespace ferrylantern
