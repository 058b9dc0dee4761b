// The settings: the PIN and its sessions, the PIN fields and what they accept, and the background section
// with the autostart entry it writes.
#include "server/TransferPINSessionStore.h"
#include "tests/support/ChildProcess.h"
#include "tests/ui/ViewTestSupport.h"
#include "ui/AppSettingsView.h"
#include "ui/LoginAutostart.h"
#include "ui/PINCodeEntryField.h"
#include "ui/SymbolWidgets.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>

namespace ferrylantern {
namespace {

TEST(UserPreferences, EndEveryPINSessionWhenThePINChanges)
{
    test::TemporaryPreferences preferences;
    auto& sessions = TransferPINSessionStore::shared();
    const std::string beforeCode = sessions.issue();
    preferences->setPINCode(QStringLiteral("1234"));
    EXPECT_FALSE(sessions.isValid(beforeCode));

    const std::string beforeSwitch = sessions.issue();
    preferences->setPINEnabled(true);
    EXPECT_FALSE(sessions.isValid(beforeSwitch));

    const std::string unchanged = sessions.issue();
    preferences->setPINCode(QStringLiteral("1234")); // the same PIN again changes nothing
    EXPECT_TRUE(sessions.isValid(unchanged));
    sessions.removeAll();
}

// The PIN as typed in the settings window or pasted into the sidebar's field: digits only, four at most,
// in force only with all four.
TEST(AppSettingsView, ThePINFieldsKeepFourDigitsAndTheFooterSaysWhetherThePINIsInForce)
{
    test::TemporaryPreferences preferences;
    AppSettingsView settings(*preferences);
    settings.show();
    PINCodeEntryField field(*preferences);
    field.show();
    EXPECT_FALSE(settings.pinEntry()->isVisible()); // only while the switch is on
    EXPECT_EQ(settings.securityFooter()->text(), QStringLiteral("关闭后，局域网内扫码即可直接上传。"));

    settings.pinSwitch()->click();
    EXPECT_TRUE(preferences->pinEnabled());
    EXPECT_TRUE(settings.pinEntry()->isVisible());
    QTest::keyClicks(settings.pinEntry(), QStringLiteral("12x3"));
    EXPECT_EQ(preferences->pinCode(), QStringLiteral("123"));
    EXPECT_EQ(field.pinCode(), QStringLiteral("123")); // the sidebar's field follows at once
    EXPECT_EQ(settings.securityFooter()->text(), QStringLiteral("请设置 4 位数字 PIN 后才会生效。"));
    const QColor shown = settings.securityFooter()->palette().color(settings.securityFooter()->foregroundRole());
    EXPECT_GT(shown.red(), 200);
    EXPECT_GT(shown.red(), shown.blue() + 150);
    EXPECT_FALSE(preferences->isPINRequired()); // the upload page asks for no PIN either

    // Full-width digits count as digits; 四 and ½ do not.
    field.lineEdit()->clear();
    const QString pasted = QStringLiteral("\uFF19\uFF18\u56DB7\u00BD65");
    QGuiApplication::clipboard()->setText(pasted);
    field.lineEdit()->paste();
    if (QGuiApplication::clipboard()->text().isEmpty()) {
        field.lineEdit()->insert(pasted); // a platform without a clipboard
    }
    EXPECT_EQ(preferences->pinCode(), QStringLiteral("9876"));
    EXPECT_TRUE(preferences->isPINRequired());
    EXPECT_EQ(settings.securityFooter()->text(),
              QStringLiteral("手机扫码后需输入此 PIN 才能上传。修改 PIN 后，已打开的上传页需重新验证。"));
    EXPECT_FALSE(settings.securityFooter()->property("isWarning").toBool());

    // The sidebar's field is masked until its eye is clicked, and dimmed while it is off.
    auto* eye = field.visibilityButton();
    EXPECT_EQ(field.lineEdit()->echoMode(), QLineEdit::Password);
    eye->click();
    EXPECT_EQ(field.lineEdit()->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(eye->toolTip(), QStringLiteral("隐藏 PIN"));
    field.setEnabled(false);
    EXPECT_FALSE(field.visibilityButton()->isEnabled());
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(field.graphicsEffect());
    ASSERT_NE(effect, nullptr);
    EXPECT_TRUE(effect->isEnabled());
    field.setEnabled(true);
    EXPECT_FALSE(effect->isEnabled());

    // Received texts stay off the clipboard until the user asks for it.
    EXPECT_FALSE(settings.copyTextsSwitch()->isChecked());
    settings.copyTextsSwitch()->click();
    EXPECT_TRUE(preferences->copyReceivedTextToClipboard());
}

// The settings window's background section: notifications, the tray, and the autostart entry it writes.
TEST(AppSettingsView, WritesAndRemovesTheAutostartEntryThatStartsHiddenOrSaysWhyItCannot)
{
    test::TemporaryPreferences preferences;
    const test::TemporaryFolder config;
    const auto entryPath = config.path() / "autostart" / "org.ferrylantern.FerryLantern.desktop";
    const LoginAutostart autostart(QString::fromStdString(entryPath.string()),
                                   QStringLiteral(R"(/opt/Ferry "Lantern"/100%/a$b\c/ferrylantern)"));
    AppSettingsView view(*preferences, {.autostart = &autostart, .trayAvailable = true});
    EXPECT_FALSE(view.startAtLoginSwitch()->isChecked());
    EXPECT_TRUE(view.keepInTraySwitch()->isChecked());

    view.startAtLoginSwitch()->click();
    ASSERT_TRUE(autostart.isEnabled());
    std::ifstream entry(entryPath);
    const std::string text{std::istreambuf_iterator<char>(entry), {}};
    // Quoted as desktop entries require: spaces, quotes, "$" and "\\" inside quotes, "%" doubled.
    EXPECT_NE(text.find(R"(Exec="/opt/Ferry \\"Lantern\\"/100%%/a\\$b\\\\c/ferrylantern" --hidden)"), std::string::npos)
        << text;
    // The desktop's own validator accepts it.
    test::ChildProcess validate("/usr/bin/desktop-file-validate", {entryPath.string()}, config.path());
    EXPECT_EQ(validate.waitForExit(), 0) << validate.standardOutput();

    view.startAtLoginSwitch()->click();
    EXPECT_FALSE(std::filesystem::exists(entryPath));

    // Switched off by the desktop's own list of startup programs: the window shows it off.
    ASSERT_TRUE(autostart.setEnabled(true));
    std::ofstream(entryPath, std::ios::app) << "Hidden=true\n";
    AppSettingsView reopened(*preferences, {.autostart = &autostart, .trayAvailable = true});
    EXPECT_FALSE(reopened.startAtLoginSwitch()->isChecked());

    view.notificationsSwitch()->click();
    EXPECT_FALSE(preferences->notificationsEnabled());
    view.keepInTraySwitch()->click();
    EXPECT_FALSE(preferences->keepRunningInTray());
    EXPECT_FALSE(reopened.keepInTraySwitch()->isChecked()); // every open view follows

    // A desktop without a tray, and a file in the way of the autostart folder: the window says so.
    std::filesystem::remove_all(config.path() / "autostart");
    std::ofstream(config.path() / "autostart") << "in the way";
    AppSettingsView trayless(*preferences, {.autostart = &autostart, .trayAvailable = false});
    EXPECT_FALSE(trayless.keepInTraySwitch()->isEnabled());
    EXPECT_TRUE(trayless.presenceFooter()->text().startsWith(QStringLiteral("当前桌面没有系统托盘")));
    trayless.startAtLoginSwitch()->click();
    EXPECT_FALSE(trayless.startAtLoginSwitch()->isChecked());
    EXPECT_TRUE(trayless.presenceFooter()->text().startsWith(QStringLiteral("无法修改登录启动项")));
}

} // namespace
} // namespace ferrylantern
