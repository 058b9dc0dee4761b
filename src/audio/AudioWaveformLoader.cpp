#include "audio/AudioWaveformLoader.h"

#include "audio/AudioFormatProbe.h"
#include "audio/WaveformExtraction.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include <sys/stat.h>

#include <charconv>
#include <cmath>

namespace ferrylantern {

namespace {

const QString cacheKeySuffix = QStringLiteral("|stereo-v6");

std::filesystem::path localPath(const QUrl& url)
{
    const QString path = url.isLocalFile() ? url.toLocalFile() : url.path();
    return std::filesystem::path(path.toStdString());
}

// Seconds in the shortest decimal form that reads back to the same double, always with a fraction.
QString shortestSecondsText(double seconds)
{
    char text[400]; // fixed notation of the largest double needs 309 digits
    const auto result = std::to_chars(std::begin(text), std::end(text), seconds, std::chars_format::fixed);
    QString formatted = QString::fromLatin1(text, static_cast<qsizetype>(result.ptr - text));
    if (!formatted.contains(QLatin1Char('.'))) {
        formatted += QStringLiteral(".0");
    }
    return formatted;
}

// Calls `completion` with `result` on the thread that made the request, unless `context` is gone by
// then. The relay object is created on the requesting thread, so the queued call runs there; the
// guard is only read on that thread.
template <typename T>
class ResultDelivery
{
public:
    ResultDelivery(QObject* context, AudioWaveformLoader::Completion<T> completion)
        : relay_(new QObject)
        , context_(context)
        , completion_(std::move(completion))
    {}

    void operator()(std::optional<T> result) const
    {
        QMetaObject::invokeMethod(
            relay_,
            [relay = relay_, context = context_, completion = completion_, result = std::move(result)] {
                if (context) {
                    completion(result);
                }
                delete relay;
            },
            Qt::QueuedConnection);
    }

private:
    QObject* relay_;
    QPointer<QObject> context_;
    AudioWaveformLoader::Completion<T> completion_;
};

} // namespace

AudioWaveformLoader::Operations AudioWaveformLoader::Operations::real()
{
    Operations operations;
    operations.extractStereoWaveform = ferrylantern::extractStereoWaveform;
    operations.readDurationSeconds = ferrylantern::readDurationSeconds;
    operations.probeFormat = ferrylantern::probeFormat;
    return operations;
}

AudioWaveformLoader& AudioWaveformLoader::shared()
{
    // Never destroyed: the loader lives as long as the process. Its pool is drained while the
    // application object still exists, so no work runs during static destruction.
    static AudioWaveformLoader* const instance = [] {
        auto* loader = new AudioWaveformLoader();
        qAddPostRoutine([] { shared().dropQueuedWork(); });
        return loader;
    }();
    return *instance;
}

AudioWaveformLoader::AudioWaveformLoader(Operations operations)
    : operations_(std::move(operations))
{
    waveformLane_.setMaxThreadCount(QThread::idealThreadCount());
    probeLane_.setMaxThreadCount(probeLaneThreadCount);
}

AudioWaveformLoader::~AudioWaveformLoader()
{
    dropQueuedWork();
}

void AudioWaveformLoader::dropQueuedWork()
{
    waveformLane_.clear();
    probeLane_.clear();
    waveformLane_.waitForDone();
    probeLane_.waitForDone();
}

void AudioWaveformLoader::waitForIdle()
{
    // Finished waveforms fill the duration cache but start no probes, so one pass over each lane does.
    waveformLane_.waitForDone();
    probeLane_.waitForDone();
}

template <typename T>
std::optional<T> AudioWaveformLoader::cached(const QHash<QString, T>& cache, const QString& key)
{
    const auto found = cache.constFind(key);
    if (found == cache.constEnd()) {
        return std::nullopt;
    }
    return *found;
}

void AudioWaveformLoader::loadStereoSamples(const QUrl& url, QObject* context,
                                            Completion<StereoWaveformSamples> completion)
{
    const ResultDelivery<StereoWaveformSamples> deliver(context, std::move(completion));
    const QString key = cacheKey(url);
    std::optional<StereoWaveformSamples> samples;
    {
        const MutexLock guard(lock_);
        samples = cached(cache_, key);
    }
    if (samples) {
        deliver(std::move(samples));
        return;
    }
    waveformLane_.start([this, deliver, key, path = localPath(url)] {
        auto result = operations_.extractStereoWaveform(path, targetSampleCount, framesPerBucketScan);
        if (!result) {
            deliver(std::nullopt);
            return;
        }
        {
            const MutexLock guard(lock_);
            cache_.insert(key, result->samples);
            durationCache_.insert(key, result->durationSeconds);
        }
        deliver(std::move(result->samples));
    });
}

void AudioWaveformLoader::loadDurationSeconds(const QUrl& url, QObject* context, Completion<double> completion)
{
    const ResultDelivery<double> deliver(context, std::move(completion));
    const QString key = cacheKey(url);
    std::optional<double> known;
    {
        const MutexLock guard(lock_);
        known = cached(durationCache_, key);
    }
    if (known) {
        deliver(known);
        return;
    }
    probeLane_.start([this, deliver, key, path = localPath(url)] {
        const auto seconds = operations_.readDurationSeconds(path);
        if (seconds && std::isfinite(*seconds) && *seconds > 0) {
            const MutexLock guard(lock_);
            durationCache_.insert(key, *seconds);
        }
        deliver(seconds && std::isfinite(*seconds) && *seconds > 0 ? seconds : std::nullopt);
    });
}

void AudioWaveformLoader::loadFormat(const QUrl& url, std::int64_t fileByteCount, QObject* context,
                                     Completion<AudioStreamFormat> completion)
{
    const ResultDelivery<AudioStreamFormat> deliver(context, std::move(completion));
    const QString key = cacheKey(url);
    std::optional<AudioStreamFormat> known;
    {
        const MutexLock guard(lock_);
        known = cached(formatCache_, key);
    }
    if (known) {
        deliver(known);
        return;
    }
    probeLane_.start([this, deliver, key, fileByteCount, path = localPath(url)] {
        const auto format = operations_.probeFormat(path, fileByteCount);
        // A format without a caption (sample rate below 1) is no result and is not cached.
        if (!format || !captionText(*format)) {
            deliver(std::nullopt);
            return;
        }
        {
            const MutexLock guard(lock_);
            formatCache_.insert(key, *format);
        }
        deliver(format);
    });
}

void AudioWaveformLoader::loadFormatCaption(const QUrl& url, const QString& fileName, std::int64_t fileByteCount,
                                            QObject* context, Completion<QString> completion)
{
    if (!isAudioFileName(fileName)) {
        ResultDelivery<QString>(context, std::move(completion))(std::nullopt);
        return;
    }
    loadFormat(url, fileByteCount, context,
               [completion = std::move(completion)](std::optional<AudioStreamFormat> format) {
                   completion(format ? captionText(*format) : std::nullopt);
               });
}

QString AudioWaveformLoader::cacheKey(const QUrl& url)
{
    const std::filesystem::path path = localPath(url);
    struct stat status
    {};
    const bool known = ::stat(path.c_str(), &status) == 0;
    const double modified =
        known ? static_cast<double>(status.st_mtim.tv_sec) + static_cast<double>(status.st_mtim.tv_nsec) / 1e9 : 0.0;
    const long long size = known ? static_cast<long long>(status.st_size) : 0;
    return QString::fromStdString(path.string()) + QLatin1Char('|') + shortestSecondsText(modified) + QLatin1Char('|') +
           QString::number(size) + cacheKeySuffix;
}

} // namespace ferrylantern
