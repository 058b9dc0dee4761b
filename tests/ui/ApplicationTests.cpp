// The application shell: its windows, their commands and the appearance they share.
#include "app/OrderlyExit.h"
#include "audio/AudioPlaybackController.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HttpTestClient.h"
#include "tests/support/TestSupport.h"
#include "ui/AppSettingsView.h"
#include "ui/ContentView.h"
#include "ui/FerryLanternApp.h"
#include "ui/SingleInstance.h"
#include "ui/UserPreferences.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
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

    static std::unique_ptr<FerryLanternApp> makeApp()
    {
        ReceiverConfiguration configuration;
        configuration.preferredPort = 0;
        return std::make_unique<FerryLanternApp>(configuration);
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
    ChildProcess second(FERRYLANTERN_APP_BINARY, {}, runtime.path());
    ASSERT_TRUE(activations.wait(10000));
    EXPECT_EQ(second.waitForExit(), 0) << second.standardError();
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
};

class LeavingTheApplication : public Application, public ::testing::WithParamInterface<WayOut>
{};

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
        }
    });
    EXPECT_EQ(QApplication::exec(), 0);

    EXPECT_TRUE(filesUnder(saveFolder).empty());
    EXPECT_EQ(server->activeConnectionCount(), 0);
    EXPECT_FALSE(model.isRunning());
    EXPECT_EQ(upload.readAll().find("200 OK"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(EveryWay, LeavingTheApplication,
                         ::testing::Values(WayOut::quitCommand, WayOut::closingTheWindow, WayOut::terminateSignal),
                         [](const ::testing::TestParamInfo<WayOut>& way) {
                             switch (way.param) {
                             case WayOut::quitCommand:
                                 return "QuitCommand";
                             case WayOut::closingTheWindow:
                                 return "ClosingTheWindow";
                             case WayOut::terminateSignal:
                                 return "TerminateSignal";
                             }
                             return "";
                         });

} // namespace
} // namespace ferrylantern::test
