#include "ui/FerryLanternApp.h"

#include "BuildInfo.h"
#include "audio/AudioPlaybackController.h"
#include "audio/AudioWaveformLoader.h"
#include "ui/AppAboutView.h"
#include "ui/AppSettingsView.h"
#include "ui/AppearanceController.h"
#include "ui/ContentView.h"
#include "ui/DesktopNotifications.h"
#include "ui/FileReveal.h"
#include "ui/LoginAutostart.h"
#include "ui/TrayIcon.h"
#include "ui/UserPreferences.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenuBar>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTranslator>
#include <QVBoxLayout>

namespace ferrylantern {

void setUpApplicationIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("FerryLantern"));
    QCoreApplication::setApplicationName(QStringLiteral("FerryLantern"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FERRYLANTERN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.ferrylantern.FerryLantern"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/ferrylantern/logo.png")));
    installQtTranslations(QLocale::system());
}

void installQtTranslations(const QLocale& locale)
{
    // One translator per process: Qt's own texts (dialog buttons, the folder chooser) in the user's
    // language, from the translations Qt ships. Without them the texts stay English.
    static QTranslator* translator = nullptr;
    if (translator != nullptr) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
    }
}

FerryLanternApp::FerryLanternApp(const ReceiverConfiguration& configuration, DesktopPresence presence, QObject* parent)
    : QObject(parent)
    , appearance_(std::make_unique<AppearanceController>(UserPreferences::shared()))
    , mainWindow_(std::make_unique<ContentView>(configuration, UserPreferences::shared(),
                                                AudioPlaybackController::shared(), AudioWaveformLoader::shared()))
{
    mainWindow_->restoreLayout();
    installCommands();
    installPresence(std::move(presence));
    // Quitting from the menu or by a signal closes no window; the layout is kept all the same.
    connect(qApp, &QCoreApplication::aboutToQuit, mainWindow_.get(), &ContentView::saveLayout);
}

FerryLanternApp::~FerryLanternApp()
{
    delete about_;
    delete settings_;
    mainWindow_->model().setBringToFrontHandler({});
}

void FerryLanternApp::installPresence(DesktopPresence presence)
{
    auto& preferences = UserPreferences::shared();
    autostart_ =
        std::make_unique<LoginAutostart>(presence.autostartEntryPath.value_or(LoginAutostart::defaultEntryPath()));
    desktopNotifications_ =
        std::make_unique<DesktopNotifications>(presence.notificationBus.value_or(QDBusConnection::sessionBus()));
    auto actions = std::move(presence.notificationActions);
    if (!actions.showWindow) {
        actions.showWindow = [this] { bringMainWindowToFront(); };
    }
    transferNotifications_ = std::make_unique<TransferNotifications>(mainWindow_->model(), preferences,
                                                                     *desktopNotifications_, std::move(actions));
    // A question brings the window to the front (out of the tray too); when the user was elsewhere it
    // also becomes a notification, which can answer it where the server shows actions.
    mainWindow_->model().setBringToFrontHandler([this] {
        const bool userAtWindow = mainWindow_->isVisible() && mainWindow_->isActiveWindow();
        bringMainWindowToFront();
        transferNotifications_->questionArrived(userAtWindow);
    });

    const auto trayAvailable =
        presence.trayAvailable ? presence.trayAvailable : [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    if (trayAvailable()) {
        auto& model = mainWindow_->model();
        tray_ = std::make_unique<TrayIcon>(
            model, TrayIcon::Commands{.showWindow = [this] { bringMainWindowToFront(); },
                                      .setReceiving = [this](bool on) { mainWindow_->setAllowReceive(on); },
                                      .openSaveFolder = [&model] { openFolder(model.saveDirectory()); },
                                      .quit = [] { QCoreApplication::quit(); }});
        tray_->show();
    }
    connect(&preferences, &UserPreferences::keepRunningInTrayChanged, this, &FerryLanternApp::updateQuitOnClose);
    updateQuitOnClose();
}

void FerryLanternApp::updateQuitOnClose()
{
    QApplication::setQuitOnLastWindowClosed(!(tray_ && UserPreferences::shared().keepRunningInTray()));
}

void FerryLanternApp::showMainWindow()
{
    mainWindow_->show();
}

void FerryLanternApp::start(StartMode mode)
{
    if (mode == StartMode::withWindow) {
        showMainWindow();
    } else if (tray_) {
        mainWindow_->setAllowReceive(true);
    } else {
        mainWindow_->showMinimized();
    }
}

void FerryLanternApp::bringMainWindowToFront()
{
    mainWindow_->showNormal();
    mainWindow_->raise();
    mainWindow_->activateWindow();
    QApplication::alert(mainWindow_.get());
}

void FerryLanternApp::installCommands()
{
    auto* appMenu = mainWindow_->menuBar()->addMenu(QStringLiteral("FerryLantern"));
    auto* about = appMenu->addAction(QStringLiteral("About FerryLantern"));
    about->setObjectName(QStringLiteral("aboutAction"));
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, &FerryLanternApp::showAbout);
    auto* settings = appMenu->addAction(QStringLiteral("设置…"));
    settings->setObjectName(QStringLiteral("settingsAction"));
    settings->setMenuRole(QAction::PreferencesRole);
    // Desktops without a standard preferences key get the usual Ctrl+, of Linux applications.
    settings->setShortcut(
        QKeySequence::keyBindings(QKeySequence::Preferences).value(0, QKeySequence(QStringLiteral("Ctrl+,"))));
    connect(settings, &QAction::triggered, this, &FerryLanternApp::showSettings);
    appMenu->addSeparator();
    auto* quit = appMenu->addAction(QStringLiteral("退出"));
    quit->setObjectName(QStringLiteral("quitAction"));
    quit->setMenuRole(QAction::QuitRole);
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, qApp, &QApplication::quit);

    auto* viewMenu = mainWindow_->menuBar()->addMenu(QStringLiteral("显示"));
    auto* stopPlayback = viewMenu->addAction(QStringLiteral("停止播放"));
    stopPlayback->setObjectName(QStringLiteral("stopPlaybackAction"));
    stopPlayback->setShortcut(QKeySequence(Qt::Key_Escape));
    stopPlayback->setShortcutContext(Qt::WindowShortcut);
    connect(stopPlayback, &QAction::triggered, this, [] { AudioPlaybackController::shared().stop(); });
}

void FerryLanternApp::showAbout()
{
    if (!about_) {
        about_ = new QWidget(nullptr, Qt::Dialog);
        about_->setObjectName(QStringLiteral("aboutWindow"));
        about_->setAttribute(Qt::WA_DeleteOnClose);
        about_->setWindowTitle(QStringLiteral("About FerryLantern"));
        auto* layout = new QVBoxLayout(about_);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new AppAboutView(160, about_));
        layout->setSizeConstraint(QLayout::SetFixedSize);
        about_->adjustSize();
        if (const auto* screen = mainWindow_->screen()) {
            about_->move(screen->availableGeometry().center() - about_->rect().center());
        }
    }
    about_->show();
    about_->raise();
    about_->activateWindow();
}

void FerryLanternApp::showSettings()
{
    if (!settings_) {
        auto* view =
            new AppSettingsView(UserPreferences::shared(),
                                AppSettingsPresence{.autostart = autostart_.get(), .trayAvailable = tray_ != nullptr});
        view->setAttribute(Qt::WA_DeleteOnClose);
        settings_ = view;
    }
    settings_->show();
    settings_->raise();
    settings_->activateWindow();
}

} // namespace ferrylantern
