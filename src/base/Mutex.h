// A mutex, its scoped lock and a condition variable that clang's thread-safety analysis understands
// (libstdc++'s std::mutex carries no annotations, so members guarded by one would go unchecked).
//
//   mutable Mutex lock_;
//   int count_ GUARDED_BY(lock_) = 0;
//   int count() const
//   {
//       const MutexLock guard(lock_);
//       return count_;
//   }
//
// Mutex and ConditionVariable are thread-safe; a MutexLock belongs to the thread that made it.
#pragma once

#include "base/ThreadAnnotations.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ferrylantern {

class CAPABILITY("mutex") Mutex
{
public:
    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }

private:
    friend class ConditionVariable;
    std::mutex mutex_;
};

// Holds a Mutex from construction to destruction.
class SCOPED_CAPABILITY MutexLock
{
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex)
        : mutex_(mutex)
    {
        mutex_.lock();
    }
    ~MutexLock() RELEASE() { mutex_.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& mutex_;
};

// Waits for a change that another thread announces. The waits give `mutex` up while they block and
// hold it again when they return; they may also return without any notification, so callers check
// their condition in a loop:
//
//   while (!ready_) {
//       changed_.wait(lock_);
//   }
class ConditionVariable
{
public:
    void wait(Mutex& mutex) REQUIRES(mutex)
    {
        std::unique_lock held(mutex.mutex_, std::adopt_lock);
        condition_.wait(held);
        held.release(); // the caller still holds the mutex
    }

    // False when `deadline` passed.
    bool waitUntil(Mutex& mutex, std::chrono::steady_clock::time_point deadline) REQUIRES(mutex)
    {
        std::unique_lock held(mutex.mutex_, std::adopt_lock);
        const bool notified = condition_.wait_until(held, deadline) == std::cv_status::no_timeout;
        held.release();
        return notified;
    }

    void notifyAll() { condition_.notify_all(); }

private:
    std::condition_variable condition_;
};

} // namespace ferrylantern
