// The application shell: its windows, their commands and the appearance they share.
#include "audio/AudioPlaybackController.h"
#include "tests/support/TestSupport.h"
#include "ui/AppSettingsView.h"
#include "ui/ContentView.h"
#include "ui/FerryLanternApp.h"
#include "ui/UserPreferences.h"

#include <QAction>
#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

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
        ReceiverConfiguration configuration;
        configuration.preferredPort = 0;
        app = std::make_unique<FerryLanternApp>(configuration);
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
    EXPECT_EQ(app->settingsWindow()->windowTitle(), "设置");
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

} // namespace
} // namespace ferrylantern::test
