// ferrylantern: the desktop application. Receiving starts as soon as the main window shows; every way
// out (the quit command, closing the window, SIGINT or SIGTERM) shuts the receiver down first. A
// second launch brings the running window to the front and ends.
#include "app/OrderlyExit.h"
#include "receiver/TransferReceiverModel.h"
#include "ui/ContentView.h"
#include "ui/FerryLanternApp.h"
#include "ui/SingleInstance.h"

#include <QApplication>

int main(int argc, char** argv)
{
    ferrylantern::StopSignals::blockInAllThreads();
    QApplication application(argc, argv);
    ferrylantern::setUpApplicationIdentity();
    ferrylantern::SingleInstance instance;
    if (!instance.claim()) {
        return 0;
    }
    ferrylantern::FerryLanternApp app(ferrylantern::ReceiverConfiguration{});
    QObject::connect(&instance, &ferrylantern::SingleInstance::activationRequested, &app,
                     &ferrylantern::FerryLanternApp::bringMainWindowToFront);
    const ferrylantern::OrderlyExit orderlyExit(app.mainWindow().model());
    app.showMainWindow();
    return QApplication::exec();
}
