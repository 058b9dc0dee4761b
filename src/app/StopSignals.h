// SIGINT and SIGTERM as a Qt signal: the two are blocked in every thread and read from a signalfd on
// the GUI thread, so stopping runs in the event loop like any other event.
#pragma once

#include <QObject>
#include <QSocketNotifier>

namespace ferrylantern {

class StopSignals : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StopSignals)

public:
    // Blocks the signals for the calling thread and every thread started after it; call it first.
    static void blockInAllThreads();

    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    void stopRequested();

private:
    int fd_;
    QSocketNotifier notifier_;
};

} // namespace ferrylantern
