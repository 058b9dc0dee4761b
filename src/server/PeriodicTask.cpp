#include "server/PeriodicTask.h"

namespace ferrylantern {

PeriodicTask::PeriodicTask(std::chrono::milliseconds interval, std::function<void()> task)
    : thread_([this, interval, task = std::move(task)] { run(interval, task); })
{}

PeriodicTask::~PeriodicTask()
{
    stop();
}

void PeriodicTask::stop()
{
    {
        const MutexLock guard(lock_);
        isStopping_ = true;
    }
    wake_.notifyAll();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void PeriodicTask::run(std::chrono::milliseconds interval, const std::function<void()>& task)
{
    while (true) {
        {
            const MutexLock guard(lock_);
            const auto next = std::chrono::steady_clock::now() + interval;
            while (!isStopping_ && std::chrono::steady_clock::now() < next) {
                wake_.waitUntil(lock_, next);
            }
            if (isStopping_) {
                return;
            }
        }
        task();
    }
}

} // namespace ferrylantern
