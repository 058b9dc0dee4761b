// The application: its identity (name, version, icon, desktop file), the appearance applied to every
// window, the main window, the about window ("About FerryLantern", one instance, centred when first
// shown), the settings window (the standard preferences command), and the menu commands.
//
// GUI thread only. Create it after the QApplication; it lives as long as the windows.
#pragma once

#include <QLocale>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace ferrylantern {

class AppearanceController;
class ContentView;
struct ReceiverConfiguration;

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
    explicit FerryLanternApp(const ReceiverConfiguration& configuration, QObject* parent = nullptr);
    ~FerryLanternApp() override;

    ContentView& mainWindow() const { return *mainWindow_; }
    void showMainWindow();
    // Shows the main window (also when it was hidden) on top of the others, with the keyboard.
    void bringMainWindowToFront();
    // Opens the about window, or brings the open one forward.
    void showAbout();
    // Opens the settings window, or brings the open one forward.
    void showSettings();

    QWidget* aboutWindow() const { return about_; }
    QWidget* settingsWindow() const { return settings_; }

private:
    void installCommands();

    std::unique_ptr<AppearanceController> appearance_;
    std::unique_ptr<ContentView> mainWindow_;
    QPointer<QWidget> about_;
    QPointer<QWidget> settings_;
};

} // namespace ferrylantern
