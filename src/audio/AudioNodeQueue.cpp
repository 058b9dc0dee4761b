#include "audio/AudioNodeQueue.h"

namespace ferrylantern {

AudioNodeQueue::~AudioNodeQueue() = default;

ThreadAudioNodeQueue::ThreadAudioNodeQueue()
    : receiver_(new QObject)
{
    thread_.setObjectName(QStringLiteral("com.ferrylantern.audio-node"));
    receiver_->moveToThread(&thread_);
    thread_.start();
}

ThreadAudioNodeQueue::~ThreadAudioNodeQueue()
{
    // Queued after everything given so far, so that work runs before the loop ends.
    QMetaObject::invokeMethod(
        receiver_, [] { QThread::currentThread()->quit(); }, Qt::QueuedConnection);
    thread_.wait();
    delete receiver_;
}

void ThreadAudioNodeQueue::async(std::function<void()> work)
{
    QMetaObject::invokeMethod(receiver_, std::move(work), Qt::QueuedConnection);
}

} // namespace ferrylantern
