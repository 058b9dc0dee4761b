// The serial queue on which every call into the audio output engine runs, so the GUI thread never waits
// for the output device.
//
// async() may be called from any thread; work runs one item at a time, in the order given.
#pragma once

#include <QObject>
#include <QThread>

#include <functional>

namespace ferrylantern {

class AudioNodeQueue
{
public:
    virtual ~AudioNodeQueue();
    virtual void async(std::function<void()> work) = 0;
};

// A thread of its own named "com.ferrylantern.audio-node" with a Qt event loop (the output device's
// objects need one). Destroying the queue runs the work already given, then ends the thread.
class ThreadAudioNodeQueue final : public AudioNodeQueue
{
public:
    ThreadAudioNodeQueue();
    ~ThreadAudioNodeQueue() override;
    ThreadAudioNodeQueue(const ThreadAudioNodeQueue&) = delete;
    ThreadAudioNodeQueue& operator=(const ThreadAudioNodeQueue&) = delete;

    void async(std::function<void()> work) override;

private:
    QThread thread_;
    QObject* receiver_; // lives on thread_; work is posted to it
};

} // namespace ferrylantern
