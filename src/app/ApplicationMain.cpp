// ferrylantern: the desktop application. Receiving starts as soon as the main window shows; every way
// out (the quit command, closing the window, SIGINT or SIGTERM) shuts the receiver down first.
#include "app/OrderlyExit.h"
#include "receiver/TransferReceiverModel.h"
#include "ui/ContentView.h"
#include "ui/FerryLanternApp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    ferrylantern::StopSignals::blockInAllThreads();
    QApplication application(argc, argv);
    ferrylantern::setUpApplicationIdentity();
    ferrylantern::FerryLanternApp app(ferrylantern::ReceiverConfiguration{});
    const ferrylantern::OrderlyExit orderlyExit(app.mainWindow().model());
    app.showMainWindow();
    return QApplication::exec();
}
