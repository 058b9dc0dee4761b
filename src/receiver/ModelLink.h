// A weak handle on the receiver model for the server's threads. The server's callbacks hold it; the
// model clears it in its destructor. post() hands work to the model's thread while the model exists,
// under a lock, so the model cannot go away between the check and the posting; Qt drops events posted
// to an object that is deleted before they run.
//
// Thread-safe.
#pragma once

#include "base/Mutex.h"

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <utility>

namespace ferrylantern {

template <typename Model>
class ModelLink
{
public:
    explicit ModelLink(Model* model)
        : model_(model)
    {}

    // Runs work(model) on the model's thread later; false when the model is gone.
    template <typename Work>
    bool post(Work work)
    {
        const MutexLock guard(lock_);
        if (model_ == nullptr) {
            return false;
        }
        QMetaObject::invokeMethod(
            model_, [model = model_, work = std::move(work)]() mutable { work(model); }, Qt::QueuedConnection);
        return true;
    }

    void clear()
    {
        const MutexLock guard(lock_);
        model_ = nullptr;
    }

    // The confirmation epoch, mirrored so a question can note it on the thread that asks.
    std::atomic<qint64> epoch{0};

private:
    Mutex lock_;
    Model* model_ GUARDED_BY(lock_);
};

} // namespace ferrylantern
