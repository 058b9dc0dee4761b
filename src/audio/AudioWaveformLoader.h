// The one place where the views get a received audio file's waveform, duration and stream format.
// Results are cached in memory per file version (path, modification time and size) for the life of the
// process; only successful results are cached, so a failure is tried again on the next request.
//
// Thread-safe. Requests may come from any thread with a Qt event loop (in practice the GUI thread).
// Work runs in two lanes of the loader's own, never on the caller's thread: waveforms, which decode whole
// files, at most one per core; durations and captions, which only open a file, in a lane of their own,
// so that a row's duration and caption never wait behind the waveforms of a long list. Each result comes
// back to the caller's thread by queued invocation and is dropped if `context` has been destroyed by then
// (the work itself still finishes and is still cached).
//
//     AudioWaveformLoader::shared().loadStereoSamples(url, this, [this](auto samples) { show(samples); });
#pragma once

#include "audio/AudioStreamFormat.h"
#include "audio/StereoWaveformSamples.h"
#include "base/Mutex.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QUrl>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace ferrylantern {

class AudioWaveformLoader
{
public:
    static constexpr int targetSampleCount = 512;  // buckets per channel
    static constexpr int framesPerBucketScan = 24; // frames examined per bucket
    // Threads of the lane for durations and captions. Their work waits on the disk more than on a core,
    // and a few rows' worth at a time answers a screenful promptly.
    static constexpr int probeLaneThreadCount = 2;

    // The work done off the caller's thread. Tests replace it to count or fake decoding.
    struct Operations
    {
        std::function<std::optional<ExtractionResult>(const std::filesystem::path&, int, int)> extractStereoWaveform;
        std::function<std::optional<double>(const std::filesystem::path&)> readDurationSeconds;
        std::function<std::optional<AudioStreamFormat>(const std::filesystem::path&, std::int64_t)> probeFormat;

        static Operations real();
    };

    template <typename T>
    using Completion = std::function<void(std::optional<T>)>;

    // The process-wide loader, created on first use. When the application object goes, queued work is
    // dropped and running work is waited for.
    static AudioWaveformLoader& shared();

    explicit AudioWaveformLoader(Operations operations = Operations::real());
    ~AudioWaveformLoader(); // waits for running work
    AudioWaveformLoader(const AudioWaveformLoader&) = delete;
    AudioWaveformLoader& operator=(const AudioWaveformLoader&) = delete;

    // 512 peaks per channel, from the cache or by decoding the whole file. Two concurrent first
    // requests for one file both decode. A successful extraction also caches the duration.
    void loadStereoSamples(const QUrl& url, QObject* context, Completion<StereoWaveformSamples> completion);

    // The duration in seconds when it is a finite number > 0: the container's, until an extraction has
    // decoded the file whose container could only estimate it.
    void loadDurationSeconds(const QUrl& url, QObject* context, Completion<double> completion);

    // The stream format for the caption; `fileByteCount` is the size the receiver recorded.
    void loadFormat(const QUrl& url, std::int64_t fileByteCount, QObject* context,
                    Completion<AudioStreamFormat> completion);

    // The caption under a row: nothing, without probing at all, when the lower-cased extension of
    // `fileName` is not an audio extension; else captionText of loadFormat's result.
    void loadFormatCaption(const QUrl& url, const QString& fileName, std::int64_t fileByteCount, QObject* context,
                           Completion<QString> completion);

    // Path, "|", modification time in seconds since 1970 (shortest form, always with a fraction; "0.0"
    // when unknown), "|", size in bytes ("0" when unknown), "|stereo-v6".
    static QString cacheKey(const QUrl& url);

    // Blocks until no work is queued or running. For tests and benchmarks.
    void waitForIdle();

private:
    Operations operations_;
    Mutex lock_;
    QHash<QString, StereoWaveformSamples> cache_ GUARDED_BY(lock_);
    QHash<QString, double> durationCache_ GUARDED_BY(lock_);
    QHash<QString, AudioStreamFormat> formatCache_ GUARDED_BY(lock_);
    QThreadPool waveformLane_; // one thread per core
    QThreadPool probeLane_;    // probeLaneThreadCount threads

    void dropQueuedWork(); // and waits for the running work

    template <typename T>
    std::optional<T> cached(const QHash<QString, T>& cache, const QString& key) REQUIRES(lock_);
};

} // namespace ferrylantern
