// ferrylantern: the desktop application. Receiving starts as soon as the main window shows.
#include "receiver/TransferReceiverModel.h"
#include "ui/FerryLanternApp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    ferrylantern::setUpApplicationIdentity();
    ferrylantern::FerryLanternApp app(ferrylantern::ReceiverConfiguration{});
    app.showMainWindow();
    return QApplication::exec();
}
