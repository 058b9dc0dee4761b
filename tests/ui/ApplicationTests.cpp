// The application shell: its windows, their commands and the appearance they share.
#include "app/OrderlyExit.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HttpTestClient.h"
#include "tests/ui/ViewTestSupport.h"
#include "ui/AppSettingsView.h"
#include "ui/ContentView.h"
#include "ui/FerryLanternApp.h"
#include "ui/SingleInstance.h"
#include "ui/TrayIcon.h"
#include "ui/UserPreferences.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>

namespace ferrylantern::test {
namespace {

class Application : public ::testing::Test
{
protected:
    // The application's shared preferences and default save folder: this test's own, since every
    // test runs in a process of its own and the shared objects are made on first use.
    ScopedHome home;

    Application()
    {
        setUpApplicationIdentity();
        app = makeApp();
    }

    // Without a tray unless asked (Qt's offscreen platform has none).
    static std::unique_ptr<FerryLanternApp> makeApp(bool withTray = false)
    {
        ReceiverConfiguration configuration;
        configuration.preferredPort = 0;
        DesktopPresence presence;
        presence.trayAvailable = [withTray] { return withTray; };
        return std::make_unique<FerryLanternApp>(configuration, presence);
    }

    ~Application() override
    {
        app->mainWindow().model().stop();
        UserPreferences::shared().setColorSchemeRawValue(QStringLiteral("dark"));
    }

    std::unique_ptr<FerryLanternApp> app;
};

bool isDark(const QWidget& window)
{
    return window.palette().color(QPalette::Window).lightness() < 128;
}

// The about and settings windows open once each, and every window follows the appearance together.
TEST_F(Application, TheWindowsOpenOnceAndChangeTheirAppearanceTogether)
{
    auto* about = app->mainWindow().findChild<QAction*>(QStringLiteral("aboutAction"));
    about->trigger();
    QWidget* first = app->aboutWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(first->findChild<QLabel*>(QStringLiteral("aboutLogo"))->pixmap().isNull()); // an embedded resource
    about->trigger();
    EXPECT_EQ(app->aboutWindow(), first);

    app->showMainWindow();
    app->showSettings();
    const auto allWindows = [&](bool dark) {
        return QTest::qWaitFor(
            [&] {
                return isDark(app->mainWindow()) == dark && isDark(*app->aboutWindow()) == dark &&
                       isDark(*app->settingsWindow()) == dark;
            },
            2000);
    };
    auto* settings = qobject_cast<AppSettingsView*>(app->settingsWindow());
    settings->appearanceButton(AppAppearanceSettings::light)->click();
    EXPECT_EQ(UserPreferences::shared().colorSchemeRawValue(), QStringLiteral("light"));
    EXPECT_TRUE(allWindows(false));
    UserPreferences::shared().setColorSchemeRawValue(QStringLiteral("purple")); // unknown: dark
    EXPECT_TRUE(allWindows(true));
    EXPECT_TRUE(settings->appearanceButton(AppAppearanceSettings::dark)->isChecked());
    EXPECT_LT(QToolTip::palette().color(QPalette::ToolTipBase).lightness(), 128); // tooltips too
    settings->appearanceButton(AppAppearanceSettings::system)->click();
    EXPECT_EQ(QApplication::palette().color(QPalette::Window),
              QApplication::style()->standardPalette().color(QPalette::Window));

    // Qt's own dialogs speak the user's language too.
    installQtTranslations(QLocale(QStringLiteral("zh_CN")));
    QMessageBox chinese(QMessageBox::Question, QString(), QString(), QMessageBox::Cancel);
    EXPECT_EQ(chinese.button(QMessageBox::Cancel)->text(), QStringLiteral("取消"));
    installQtTranslations(QLocale(QStringLiteral("en_US")));
    QMessageBox english(QMessageBox::Question, QString(), QString(), QMessageBox::Cancel);
    EXPECT_EQ(english.button(QMessageBox::Cancel)->text(), QStringLiteral("Cancel"));
}

TEST_F(Application, TheFirstWindowShowsTheWholeQRCodeAndAddressAndRemembersItsLayout)
{
    auto& window = app->mainWindow();
    // A 1366 x 768 laptop screen less a desktop's top bar.
    window.resize(firstWindowSize(QSize(1366, 768 - 32)));
    app->showMainWindow();
    auto* shown = window.findChild<QLabel*>(QStringLiteral("accessURL"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.model().isRunning() && !shown->text().isEmpty(); }, 5000));
    EXPECT_EQ(shown->visibleRegion().boundingRect(), shown->rect()); // not scrolled away, not cut
    // What a phone's camera sees of the window: the QR code scanned off a picture of the whole window.
    const TemporaryFolder folder;
    window.grab().save(QString::fromStdString((folder.path() / "window.png").string()));
    EXPECT_EQ(scanQRCode(folder.path() / "window.png"), shown->text().toStdString());

    window.resize(900, 640);
    auto* columns = window.findChild<QSplitter*>(QStringLiteral("splitView"));
    columns->setSizes({420, 480});
    const auto split = columns->sizes();
    window.close();
    app.reset();
    app = makeApp();
    app->showMainWindow();
    EXPECT_EQ(app->mainWindow().size(), QSize(900, 640));
    EXPECT_EQ(app->mainWindow().findChild<QSplitter*>(QStringLiteral("splitView"))->sizes(), split);
}

TEST(SingleInstance, ASecondLaunchBringsTheFirstToTheFrontAndEnds)
{
    const TemporaryFolder runtime;
    const auto socket = QString::fromStdString((runtime.path() / "ferrylantern.instance").string());
    std::ofstream(socket.toStdString()) << "left by a crash"; // no obstacle
    SingleInstance first(socket);
    ASSERT_TRUE(first.claim());
    QSignalSpy activations(&first, &SingleInstance::activationRequested);

    const ScopedHome home;
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path().string()));
    // A hidden launch (the autostart entry while FerryLantern already runs) leaves the window alone.
    ChildProcess hidden(FERRYLANTERN_APP_BINARY, {"--hidden"}, runtime.path());
    EXPECT_EQ(hidden.waitForExit(), 0) << hidden.standardError();
    ChildProcess second(FERRYLANTERN_APP_BINARY, {}, runtime.path());
    ASSERT_TRUE(activations.wait(10000));
    EXPECT_EQ(second.waitForExit(), 0) << second.standardError();
    EXPECT_EQ(activations.count(), 1);
    qunsetenv("XDG_RUNTIME_DIR");
}

// Every way out of the application: the quit command, closing the last window, and SIGTERM as a
// session logout sends it. The exit sequence is the one main() installs.
enum class WayOut
{
    quitCommand,
    closingTheWindow,
    terminateSignal,
    trayQuit,
};

class LeavingTheApplication : public Application, public ::testing::WithParamInterface<WayOut>
{
protected:
    LeavingTheApplication()
    {
        if (GetParam() == WayOut::trayQuit) {
            app = makeApp(true);
        }
    }
};

std::ptrdiff_t filesUnder(const std::filesystem::path& folder)
{
    return std::ranges::count_if(std::filesystem::recursive_directory_iterator(folder),
                                 [](const auto& entry) { return entry.is_regular_file(); });
}

TEST_P(LeavingTheApplication, DuringAnUploadLeavesNoPartialFileAndNoRequestRunning)
{
    const OrderlyExit orderlyExit(app->mainWindow().model());
    auto& model = app->mainWindow().model();
    app->showMainWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.isRunning(); }, 5000));
    const auto server = model.httpServer();
    const std::filesystem::path saveFolder = model.saveDirectory().toStdString();

    TestConnection upload(*model.port());
    upload.send("POST /v1/upload?filename=slow.bin&device=Phone HTTP/1.1\r\nContent-Length: 100000000\r\n\r\n" +
                std::string(300000, 'x'));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !model.activeReceives().isEmpty() && model.activeReceives().first().bytesReceived > 0; }, 5000));
    ASSERT_EQ(filesUnder(saveFolder), 1); // the hidden partial file

    QTimer::singleShot(0, app.get(), [&] {
        switch (GetParam()) {
        case WayOut::quitCommand:
            app->mainWindow().findChild<QAction*>(QStringLiteral("quitAction"))->trigger();
            break;
        case WayOut::closingTheWindow:
            app->mainWindow().close();
            break;
        case WayOut::terminateSignal:
            ::kill(::getpid(), SIGTERM);
            break;
        case WayOut::trayQuit:
            app->trayIcon()->menu()->findChild<QAction*>(QStringLiteral("trayQuitAction"))->trigger();
            break;
        }
    });
    EXPECT_EQ(QApplication::exec(), 0);

    EXPECT_EQ(filesUnder(saveFolder), 0);
    EXPECT_EQ(server->activeConnectionCount(), 0);
    EXPECT_FALSE(model.isRunning());
    EXPECT_EQ(upload.readAll().find("200 OK"), std::string::npos);
}

std::string nameOf(const ::testing::TestParamInfo<WayOut>& way)
{
    const char* names[] = {"QuitCommand", "ClosingTheWindow", "TerminateSignal", "TrayQuit"};
    return names[static_cast<int>(way.param)];
}

INSTANTIATE_TEST_SUITE_P(EveryWay, LeavingTheApplication,
                         ::testing::Values(WayOut::quitCommand, WayOut::closingTheWindow, WayOut::terminateSignal,
                                           WayOut::trayQuit),
                         nameOf);

// MARK: The tray

// Started hidden in the tray, driven from its menu; a closed window leaves it receiving until quit.
TEST_F(Application, StartedHiddenItReceivesInTheTrayDrivenFromItsMenuOrMinimisedWithoutATray)
{
    // Without a tray a hidden start opens the window minimised instead.
    app->start(StartMode::hidden);
    EXPECT_EQ(app->trayIcon(), nullptr);
    EXPECT_TRUE(QApplication::quitOnLastWindowClosed());
    ASSERT_TRUE(QTest::qWaitFor([&] { return app->mainWindow().model().isRunning(); }, 5000));
    EXPECT_TRUE(app->mainWindow().isMinimized());
    app->mainWindow().model().stop();

    app = makeApp(true);
    auto& model = app->mainWindow().model();
    app->start(StartMode::hidden);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.isRunning(); }, 5000));
    EXPECT_FALSE(app->mainWindow().isVisible());
    auto* menu = app->trayIcon()->menu();
    auto* receiving = app->trayIcon()->receivingAction();
    EXPECT_EQ(app->trayIcon()->icon().toolTip(), "FerryLantern\n正在接收 · 端口 " + QString::number(*model.port()));

    receiving->trigger();
    EXPECT_FALSE(model.isRunning());
    EXPECT_FALSE(app->mainWindow().findChild<QCheckBox*>(QStringLiteral("allowReceive"))->isChecked());
    EXPECT_EQ(app->trayIcon()->icon().toolTip(), "FerryLantern\n未启动");
    receiving->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.isRunning(); }, 5000));
    EXPECT_TRUE(app->mainWindow().findChild<QCheckBox*>(QStringLiteral("allowReceive"))->isChecked());

    const OpenedURLs opened;
    menu->findChild<QAction*>(QStringLiteral("trayOpenSaveFolderAction"))->trigger();
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl::fromLocalFile(model.saveDirectory())});

    menu->findChild<QAction*>(QStringLiteral("trayShowWindowAction"))->trigger();
    EXPECT_TRUE(app->mainWindow().isVisible());
    app->mainWindow().close();
    // The event loop runs on: nothing quits, and phones still reach the server.
    bool quitting = false;
    const auto watch = QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] { quitting = true; });
    auto info = std::async(std::launch::async,
                           [port = *model.port()] { return sendRequest(port, buildRequest("GET", "/v1/info")); });
    ASSERT_TRUE(arrives(info, 5000));
    EXPECT_EQ(info.get().status, 200);
    EXPECT_FALSE(quitting);
    QObject::disconnect(watch);

    // Without the setting, closing the window quits as it does where there is no tray.
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    UserPreferences::shared().setKeepRunningInTray(false);
    EXPECT_TRUE(QApplication::quitOnLastWindowClosed());
    UserPreferences::shared().setKeepRunningInTray(true);
}

} // namespace
} // namespace ferrylantern::test
