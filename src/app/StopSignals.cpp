#include "app/StopSignals.h"

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>

namespace ferrylantern {

namespace {

sigset_t stopSignalSet()
{
    sigset_t stopSet;
    sigemptyset(&stopSet);
    sigaddset(&stopSet, SIGINT);
    sigaddset(&stopSet, SIGTERM);
    return stopSet;
}

} // namespace

void StopSignals::blockInAllThreads()
{
    const sigset_t stopSet = stopSignalSet();
    pthread_sigmask(SIG_BLOCK, &stopSet, nullptr);
}

StopSignals::StopSignals(QObject* parent)
    : QObject(parent)
    , fd_([] {
        const sigset_t stopSet = stopSignalSet();
        return signalfd(-1, &stopSet, SFD_CLOEXEC | SFD_NONBLOCK);
    }())
    , notifier_(fd_, QSocketNotifier::Read)
{
    connect(&notifier_, &QSocketNotifier::activated, this, [this] {
        signalfd_siginfo info{};
        while (read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
        emit stopRequested();
    });
}

StopSignals::~StopSignals()
{
    close(fd_);
}

} // namespace ferrylantern
