// The application: its identity (name, version, icon, desktop file), the appearance applied to every
// window, the main window, the about window ("About FerryLantern", one instance, centred when first
// shown), the settings window (the standard preferences command), and the menu commands. Where the
// desktop has a tray it shows its status item there, and closing the main window (with the
// "keepRunningInTray" preference on) keeps it receiving in the tray; without a tray closing the window
// quits. It sends desktop notifications of received files and waiting questions.
//
// GUI thread only. Create it after the QApplication; it lives as long as the windows.
#pragma once

#include "ui/TransferNotifications.h"

#include <QDBusConnection>
#include <QLocale>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

namespace ferrylantern {

class AppearanceController;
class ContentView;
class DesktopNotifications;
class LoginAutostart;
class TrayIcon;
struct ReceiverConfiguration;

// The desktop services the application uses besides its windows; the defaults are the desktop's own.
struct DesktopPresence
{
    // Where the notification server answers: the session bus unless given.
    std::optional<QDBusConnection> notificationBus;
    // Whether the desktop has a tray for the status item (asked once, at construction).
    std::function<bool()> trayAvailable;
    // What the notifications' actions do (tests watch them); empty members take the desktop's.
    TransferNotifications::Actions notificationActions;
    // The autostart entry the settings window writes and removes.
    std::optional<QString> autostartEntryPath;
};

// How the application starts: with its window, or hidden in the tray (receiving, no window).
enum class StartMode
{
    withWindow,
    hidden,
};

// Sets the application's name, organisation, version, desktop file name and window icon, and loads
// Qt's own translations for the system's locale.
void setUpApplicationIdentity();

// Qt's own texts (standard buttons, the folder chooser) in `locale`'s language; replaces what an
// earlier call installed. English when Qt has no translation for it.
void installQtTranslations(const QLocale& locale);

class FerryLanternApp final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FerryLanternApp)

public:
    explicit FerryLanternApp(const ReceiverConfiguration& configuration, DesktopPresence presence = {},
                             QObject* parent = nullptr);
    ~FerryLanternApp() override;

    ContentView& mainWindow() const { return *mainWindow_; }
    void showMainWindow();
    // Starts as asked. Hidden: receiving starts with no window when there is a tray to come back
    // from; without one the window opens minimised, so the application can still be reached.
    void start(StartMode mode);
    // Shows the main window (also when it was hidden) on top of the others, with the keyboard.
    void bringMainWindowToFront();
    // Opens the about window, or brings the open one forward.
    void showAbout();
    // Opens the settings window, or brings the open one forward.
    void showSettings();

    QWidget* aboutWindow() const { return about_; }
    QWidget* settingsWindow() const { return settings_; }
    // The status item; null where the desktop has no tray.
    TrayIcon* trayIcon() const { return tray_.get(); }
    TransferNotifications& notifications() const { return *transferNotifications_; }
    DesktopNotifications& desktopNotifications() const { return *desktopNotifications_; }

private:
    void installCommands();
    void installPresence(DesktopPresence presence);
    // Closing the last window quits, unless the tray keeps the application.
    void updateQuitOnClose();

    std::unique_ptr<AppearanceController> appearance_;
    std::unique_ptr<ContentView> mainWindow_;
    std::unique_ptr<LoginAutostart> autostart_;
    std::unique_ptr<TrayIcon> tray_;
    std::unique_ptr<DesktopNotifications> desktopNotifications_;
    std::unique_ptr<TransferNotifications> transferNotifications_;
    QPointer<QWidget> about_;
    QPointer<QWidget> settings_;
};

} // namespace ferrylantern
