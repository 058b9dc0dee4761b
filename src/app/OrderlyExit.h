// Every way out of a FerryLantern program goes through the receiver model's shutDown(): quitting,
// closing the last window, and SIGINT or SIGTERM (a session logout sends SIGTERM). Uploads in flight
// are cancelled and their partial files removed before the process ends.
//
//   StopSignals::blockInAllThreads();          // first thing in main()
//   QApplication application(argc, argv);
//   …
//   OrderlyExit exit(model);                   // before exec()
//
// GUI thread only.
#pragma once

#include "app/StopSignals.h"

#include <QObject>

#include <chrono>

namespace ferrylantern {

class TransferReceiverModel;

class OrderlyExit final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OrderlyExit)

public:
    // How long running requests get to end once they have been cancelled.
    static constexpr std::chrono::seconds shutdownGrace{3};

    explicit OrderlyExit(TransferReceiverModel& model, QObject* parent = nullptr);

private:
    void shutDown();

    TransferReceiverModel& model_;
    StopSignals stopSignals_;
    bool done_ = false;
};

} // namespace ferrylantern
