// The application shell: its windows, their commands and the appearance they share.
#include "app/OrderlyExit.h"
#include "audio/AudioPlaybackController.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HttpTestClient.h"
#include "tests/support/TestSupport.h"
#include "tests/ui/DesktopServices.h"
#include "ui/AppSettingsView.h"
#include "ui/ContentView.h"
#include "ui/FerryLanternApp.h"
#include "ui/SingleInstance.h"
#include "ui/TrayIcon.h"
#include "ui/UserPreferences.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <gtest/gtest.h>
#include <unistd.h>

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

    // Without a tray unless asked (Qt's offscreen platform has none; a desktop's tray is tested with the
    // real program below).
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

TEST_F(Application, IdentifiesItselfAndStartsReceiving)
{
    EXPECT_EQ(QCoreApplication::applicationName(), "FerryLantern");
    EXPECT_EQ(QGuiApplication::desktopFileName(), "org.ferrylantern.FerryLantern");
    EXPECT_FALSE(QGuiApplication::windowIcon().isNull());
    app->showMainWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return app->mainWindow().model().isRunning(); }, 5000));
}

TEST_F(Application, AboutOpensOneWindowAndBringsItBack)
{
    auto* about = app->mainWindow().findChild<QAction*>(QStringLiteral("aboutAction"));
    ASSERT_NE(about, nullptr);
    about->trigger();
    QWidget* first = app->aboutWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->windowTitle(), "About FerryLantern");
    EXPECT_TRUE(first->isVisible());
    about->trigger();
    EXPECT_EQ(app->aboutWindow(), first);
}

TEST_F(Application, AppearanceChangesEveryWindowTogether)
{
    app->showMainWindow();
    app->showAbout();
    app->showSettings();
    const auto allWindows = [&](bool dark) {
        return QTest::qWaitFor(
            [&] {
                return isDark(app->mainWindow()) == dark && isDark(*app->aboutWindow()) == dark &&
                       isDark(*app->settingsWindow()) == dark;
            },
            2000);
    };
    UserPreferences::shared().setColorSchemeRawValue(QStringLiteral("light"));
    EXPECT_TRUE(allWindows(false));
    UserPreferences::shared().setColorSchemeRawValue(QStringLiteral("dark"));
    EXPECT_TRUE(allWindows(true));
    EXPECT_LT(QToolTip::palette().color(QPalette::ToolTipBase).lightness(), 128); // tooltips too
    EXPECT_EQ(app->settingsWindow()->windowTitle(), "设置");
}

// What a phone's camera sees of the window: the QR code scanned off a picture of the whole window.
std::string scanWindow(QWidget& window, const std::filesystem::path& folder)
{
    const auto picture = folder / "window.png";
    window.grab().save(QString::fromStdString(picture.string()));
    return scanQRCode(picture);
}

TEST_F(Application, TheFirstWindowShowsTheWholeQRCodeAndAddressAndRemembersItsLayout)
{
    auto& window = app->mainWindow();
    ASSERT_NE(window.screen(), nullptr);
    EXPECT_EQ(window.size(), firstWindowSize(window.screen()->availableGeometry().size()));
    // A 1366 x 768 laptop screen less a desktop's top bar.
    window.resize(firstWindowSize(QSize(1366, 768 - 32)));
    app->showMainWindow();
    auto* shown = window.findChild<QLabel*>(QStringLiteral("accessURL"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.model().isRunning() && !shown->text().isEmpty(); }, 5000));
    EXPECT_EQ(shown->visibleRegion().boundingRect(), shown->rect()); // not scrolled away, not cut
    const TemporaryFolder folder;
    EXPECT_EQ(scanWindow(window, folder.path()), shown->text().toStdString());

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

TEST_F(Application, QtsOwnDialogsSpeakTheUsersLanguage)
{
    installQtTranslations(QLocale(QStringLiteral("zh_CN")));
    QMessageBox chinese(QMessageBox::Question, QString(), QString(), QMessageBox::Open | QMessageBox::Cancel);
    EXPECT_EQ(chinese.button(QMessageBox::Cancel)->text(), QStringLiteral("取消"));
    installQtTranslations(QLocale(QStringLiteral("en_US")));
    QMessageBox english(QMessageBox::Question, QString(), QString(), QMessageBox::Cancel);
    EXPECT_EQ(english.button(QMessageBox::Cancel)->text(), QStringLiteral("Cancel"));
}

TEST_F(Application, StopPlaybackIsOnEscape)
{
    auto* stop = app->mainWindow().findChild<QAction*>(QStringLiteral("stopPlaybackAction"));
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(stop->shortcut(), QKeySequence(Qt::Key_Escape));
    EXPECT_EQ(stop->text(), "停止播放");
    stop->trigger(); // with nothing playing: no effect, no crash
    EXPECT_FALSE(AudioPlaybackController::shared().isPlaying());
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

std::vector<std::filesystem::path> filesUnder(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    return files;
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
    ASSERT_EQ(filesUnder(saveFolder).size(), 1u); // the hidden partial file

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

    EXPECT_TRUE(filesUnder(saveFolder).empty());
    EXPECT_EQ(server->activeConnectionCount(), 0);
    EXPECT_FALSE(model.isRunning());
    EXPECT_EQ(upload.readAll().find("200 OK"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(EveryWay, LeavingTheApplication,
                         ::testing::Values(WayOut::quitCommand, WayOut::closingTheWindow, WayOut::terminateSignal,
                                           WayOut::trayQuit),
                         [](const ::testing::TestParamInfo<WayOut>& way) {
                             switch (way.param) {
                             case WayOut::quitCommand:
                                 return "QuitCommand";
                             case WayOut::closingTheWindow:
                                 return "ClosingTheWindow";
                             case WayOut::terminateSignal:
                                 return "TerminateSignal";
                             case WayOut::trayQuit:
                                 return "TrayQuit";
                             }
                             return "";
                         });

// MARK: The tray

// Records what QDesktopServices::openUrl is asked to open (file URLs), instead of a file manager.
class OpenedURLs : public QObject
{
    Q_OBJECT

public:
    OpenedURLs() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~OpenedURLs() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls.append(url); }
};

TEST_F(Application, WithATrayClosingTheWindowKeepsReceivingUntilQuit)
{
    app = makeApp(true);
    ASSERT_NE(app->trayIcon(), nullptr);
    auto& model = app->mainWindow().model();
    app->showMainWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.isRunning(); }, 5000));
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());

    app->mainWindow().close();
    EXPECT_FALSE(app->mainWindow().isVisible());
    // The event loop runs on: nothing quits, and phones still reach the server.
    bool quitting = false;
    const auto watch = QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] { quitting = true; });
    auto info = std::async(std::launch::async,
                           [port = *model.port()] { return sendRequest(port, buildRequest("GET", "/v1/info")); });
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return info.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 5000));
    EXPECT_EQ(info.get().status, 200);
    EXPECT_TRUE(model.isRunning());
    EXPECT_FALSE(quitting);
    QObject::disconnect(watch);

    auto* menu = app->trayIcon()->menu();
    menu->findChild<QAction*>(QStringLiteral("trayShowWindowAction"))->trigger();
    EXPECT_TRUE(app->mainWindow().isVisible());

    // Without the setting, closing the window quits as it does where there is no tray.
    UserPreferences::shared().setKeepRunningInTray(false);
    EXPECT_TRUE(QApplication::quitOnLastWindowClosed());
    UserPreferences::shared().setKeepRunningInTray(true);
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
}

TEST_F(Application, TheTrayMenuSwitchesReceivingAndOpensTheSaveFolder)
{
    app = makeApp(true);
    auto& model = app->mainWindow().model();
    app->start(StartMode::hidden);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.isRunning(); }, 5000));
    EXPECT_FALSE(app->mainWindow().isVisible()); // hidden in the tray, receiving
    auto* menu = app->trayIcon()->menu();
    QStringList labels;
    for (const auto* action : menu->actions()) {
        if (!action->isSeparator()) {
            labels << action->text();
        }
    }
    EXPECT_EQ(labels, (QStringList{"显示窗口", "允许接收文件", "打开保存文件夹", "退出"}));
    auto* receiving = app->trayIcon()->receivingAction();
    EXPECT_TRUE(receiving->isChecked());
    EXPECT_EQ(app->trayIcon()->icon().toolTip(), "FerryLantern\n正在接收 · 端口 " + QString::number(*model.port()));

    receiving->trigger();
    EXPECT_FALSE(model.isRunning());
    EXPECT_FALSE(receiving->isChecked());
    EXPECT_FALSE(app->mainWindow().findChild<QCheckBox*>(QStringLiteral("allowReceive"))->isChecked());
    EXPECT_EQ(app->trayIcon()->icon().toolTip(), "FerryLantern\n未启动");
    receiving->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.isRunning(); }, 5000));
    EXPECT_TRUE(receiving->isChecked());
    EXPECT_TRUE(app->mainWindow().findChild<QCheckBox*>(QStringLiteral("allowReceive"))->isChecked());

    const OpenedURLs opened;
    menu->findChild<QAction*>(QStringLiteral("trayOpenSaveFolderAction"))->trigger();
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl::fromLocalFile(model.saveDirectory())});
}

TEST_F(Application, WithoutATrayAHiddenStartOpensTheWindowMinimised)
{
    app->start(StartMode::hidden);
    EXPECT_EQ(app->trayIcon(), nullptr);
    EXPECT_TRUE(QApplication::quitOnLastWindowClosed());
    ASSERT_TRUE(QTest::qWaitFor([&] { return app->mainWindow().model().isRunning(); }, 5000));
    EXPECT_TRUE(app->mainWindow().isMinimized());
}

// The real program started hidden, as the autostart entry starts it: it receives with no window.
TEST(StartingHidden, TheProgramReceivesWithoutAWindow)
{
    const ScopedHome home;
    const TemporaryFolder runtime;
    const ScopedEnvironment environment{{"XDG_RUNTIME_DIR", QString::fromStdString(runtime.path().string())}};
    ChildProcess program(FERRYLANTERN_APP_BINARY, {"--hidden"}, runtime.path());
    std::vector<std::uint16_t> ports;
    ASSERT_TRUE(eventually([&] { return !(ports = listeningPorts(program.pid())).empty(); }, std::chrono::seconds(10)))
        << program.standardError();
    const auto reply = sendRequest(
        ports.front(), buildRequest("POST", "/v1/upload?filename=hello.txt&device=Phone", "", "sent while hidden"));
    ASSERT_EQ(reply.status, 200) << reply.body;
    std::ifstream saved(home.path() / "Downloads" / "FerryLantern" / "Phone" / "hello.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), "sent while hidden");
    program.signal(SIGTERM);
    EXPECT_EQ(program.waitForExit(), 0);
}

// The real program on a desktop with a tray (X under Xvfb, a panel's StatusNotifierWatcher on a private
// session bus): hidden at start, reached and driven through its status item as a panel does.
class ProgramInATray : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists("/usr/bin/Xvfb")) {
            GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps.sh installs it)";
        }
        ASSERT_TRUE(display.isRunning());
        ASSERT_TRUE(bus.isRunning());
        watcher = std::make_unique<StatusNotifierWatcher>(bus);
    }

    std::unique_ptr<ChildProcess> launch(const std::vector<std::string>& arguments)
    {
        const ScopedEnvironment environment{{"XDG_RUNTIME_DIR", QString::fromStdString(runtime.path().string())},
                                            {"QT_QPA_PLATFORM", QStringLiteral("xcb")},
                                            {"DISPLAY", display.name()},
                                            {"DBUS_SESSION_BUS_ADDRESS", bus.address()}};
        return std::make_unique<ChildProcess>(FERRYLANTERN_APP_BINARY, arguments, runtime.path());
    }

    std::optional<std::uint16_t> portOf(const ChildProcess& program)
    {
        std::vector<std::uint16_t> ports;
        if (!QTest::qWaitFor([&] { return !(ports = listeningPorts(program.pid())).empty(); }, 10000)) {
            return std::nullopt;
        }
        return ports.front();
    }

    std::optional<bool> receivingTicked(const QString& item)
    {
        for (const auto& entry : watcher->menu(item)) {
            if (entry.label == QStringLiteral("允许接收文件")) {
                return entry.checked;
            }
        }
        return std::nullopt;
    }

    ScopedHome home;
    TemporaryFolder runtime;
    VirtualDisplay display;
    PrivateSessionBus bus;
    std::unique_ptr<StatusNotifierWatcher> watcher;
};

TEST_F(ProgramInATray, StartsHiddenReceivesAndIsDrivenFromItsMenu)
{
    auto program = launch({"--hidden"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !watcher->registeredItems().isEmpty(); }, 10000))
        << program->standardError();
    const QString item = watcher->registeredItems().first();
    auto port = portOf(*program);
    ASSERT_TRUE(port) << program->standardError();
    const auto reply =
        sendRequest(*port, buildRequest("POST", "/v1/upload?filename=hidden.txt&device=Phone", "", "in the tray"));
    ASSERT_EQ(reply.status, 200);
    EXPECT_TRUE(std::filesystem::exists(home.path() / "Downloads" / "FerryLantern" / "Phone" / "hidden.txt"));
    EXPECT_EQ(visibleWindowsOf(program->pid(), display.name()), 0);

    QStringList labels;
    for (const auto& entry : watcher->menu(item)) {
        labels << entry.label;
    }
    EXPECT_EQ(labels, (QStringList{"显示窗口", "允许接收文件", "打开保存文件夹", "退出"}));
    EXPECT_EQ(receivingTicked(item), true);

    // Receiving off and on again from the menu.
    ASSERT_TRUE(watcher->clickMenuEntry(item, QStringLiteral("允许接收文件")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return listeningPorts(program->pid()).empty(); }, 5000));
    EXPECT_EQ(receivingTicked(item), false);
    ASSERT_TRUE(watcher->clickMenuEntry(item, QStringLiteral("允许接收文件")));
    port = portOf(*program);
    ASSERT_TRUE(port);

    // The window, from the tray and closed again: the program keeps receiving.
    ASSERT_TRUE(watcher->clickMenuEntry(item, QStringLiteral("显示窗口")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return visibleWindowsOf(program->pid(), display.name()) == 1; }, 5000));
    // A close that arrives while the program is still setting the new window up can be lost (no window
    // manager orders the two here), so the test clicks again as a user would until the window goes.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            closeWindowsOf(program->pid(), display.name());
            return QTest::qWaitFor([&] { return visibleWindowsOf(program->pid(), display.name()) == 0; }, 500);
        },
        10000));
    EXPECT_EQ(sendRequest(*port, buildRequest("GET", "/v1/info")).status, 200);
    watcher->activate(item); // a click on the icon brings it back
    ASSERT_TRUE(QTest::qWaitFor([&] { return visibleWindowsOf(program->pid(), display.name()) == 1; }, 5000));

    // Quitting from the tray during an upload: the upload is cancelled and leaves no partial file.
    const auto deviceFolder = home.path() / "Downloads" / "FerryLantern" / "Slow";
    TestConnection upload(*port);
    upload.send("POST /v1/upload?filename=slow.bin&device=Slow HTTP/1.1\r\nContent-Length: 100000000\r\n\r\n" +
                std::string(300000, 'x'));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return std::filesystem::exists(deviceFolder) && !std::filesystem::is_empty(deviceFolder); }, 5000));
    ASSERT_TRUE(watcher->clickMenuEntry(item, QStringLiteral("退出")));
    ASSERT_EQ(program->waitForExit(std::chrono::seconds(15)), 0) << program->standardError();
    EXPECT_TRUE(std::filesystem::is_empty(deviceFolder));
    EXPECT_EQ(upload.readAll().find("200 OK"), std::string::npos);
}

} // namespace
} // namespace ferrylantern::test

#include "ApplicationTests.moc"
