#include "app/OrderlyExit.h"

#include "receiver/TransferReceiverModel.h"

#include <QCoreApplication>

#include <unistd.h>

#include <cstdio>

namespace ferrylantern {

OrderlyExit::OrderlyExit(TransferReceiverModel& model, QObject* parent)
    : QObject(parent)
    , model_(model)
{
    connect(&stopSignals_, &StopSignals::stopRequested, this, [] { QCoreApplication::quit(); });
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &OrderlyExit::shutDown);
}

void OrderlyExit::shutDown()
{
    if (std::exchange(done_, true)) {
        return;
    }
    if (!model_.shutDown(shutdownGrace)) {
        // A request still runs (a disk that does not answer): leave without tearing down what its
        // thread uses. Its upload was cancelled, so no complete-looking file is left behind.
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(0);
    }
}

} // namespace ferrylantern
