// Runs a function on a thread of its own every `interval` until it is stopped, for housekeeping that
// must happen even when no request comes (removing uploads whose resume window has passed).
//
//   PeriodicTask sweeper(std::chrono::seconds(10), [&] { uploads.purgeExpired(); });
//   …
//   sweeper.stop();                           // also on destruction; waits for a run in progress
//
// Thread-safe: stop() may be called from any thread but the task's own.
#pragma once

#include "base/Mutex.h"

#include <chrono>
#include <functional>
#include <thread>

namespace ferrylantern {

class PeriodicTask
{
public:
    PeriodicTask(std::chrono::milliseconds interval, std::function<void()> task);
    ~PeriodicTask();
    PeriodicTask(const PeriodicTask&) = delete;
    PeriodicTask& operator=(const PeriodicTask&) = delete;

    void stop() EXCLUDES(lock_);

private:
    void run(std::chrono::milliseconds interval, const std::function<void()>& task) EXCLUDES(lock_);

    Mutex lock_;
    ConditionVariable wake_;
    bool isStopping_ GUARDED_BY(lock_) = false;
    std::thread thread_;
};

} // namespace ferrylantern
