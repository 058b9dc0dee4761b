// ferrylantern: the desktop application. Receiving starts as soon as the main window shows, or at once
// with --hidden (the login autostart entry), which keeps the window closed and the application in the
// tray. Every way out (the quit command, the tray's quit, closing the window where there is no tray,
// SIGINT or SIGTERM) shuts the receiver down first. A second launch brings the running window to the
// front and ends; a second hidden launch just ends.
#include "app/OrderlyExit.h"
#include "receiver/TransferReceiverModel.h"
#include "ui/ContentView.h"
#include "ui/FerryLanternApp.h"
#include "ui/LoginAutostart.h"
#include "ui/SingleInstance.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char** argv)
{
    ferrylantern::StopSignals::blockInAllThreads();
    QApplication application(argc, argv);
    ferrylantern::setUpApplicationIdentity();

    QCommandLineParser options;
    options.addHelpOption();
    options.addVersionOption();
    const QCommandLineOption hidden(QString::fromLatin1(ferrylantern::startHiddenOption).mid(2),
                                    QStringLiteral("Start receiving in the tray, without opening the window."));
    options.addOption(hidden);
    options.process(application);
    const bool startHidden = options.isSet(hidden);

    ferrylantern::SingleInstance instance;
    if (!instance.claim(startHidden ? ferrylantern::SingleInstance::Request::nothing
                                    : ferrylantern::SingleInstance::Request::bringToFront)) {
        return 0;
    }
    ferrylantern::ReceiverConfiguration configuration;
    configuration.historyFile = ferrylantern::TransferHistoryStore::defaultLocation();
    ferrylantern::FerryLanternApp app(configuration);
    QObject::connect(&instance, &ferrylantern::SingleInstance::activationRequested, &app,
                     &ferrylantern::FerryLanternApp::bringMainWindowToFront);
    const ferrylantern::OrderlyExit orderlyExit(app.mainWindow().model());
    app.start(startHidden ? ferrylantern::StartMode::hidden : ferrylantern::StartMode::withWindow);
    return QApplication::exec();
}
