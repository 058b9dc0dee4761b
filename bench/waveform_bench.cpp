// Times the waveform extraction and the loader's caches for waveform_benchmark.sh.
//
//   waveform_bench extract FILE   one extraction of 512 buckets; prints the seconds it took
//   waveform_bench loader FILE    through a fresh loader: first waveform request, the cached second
//                                 one, a duration lookup of an uncached file and of a cached one
#include "audio/AudioWaveformLoader.h"
#include "audio/WaveformExtraction.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;
using ferrylantern::AudioWaveformLoader;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int extract(const char* file)
{
    const auto start = Clock::now();
    const auto result = ferrylantern::extractStereoWaveform(file, AudioWaveformLoader::targetSampleCount,
                                                            AudioWaveformLoader::framesPerBucketScan);
    const double seconds = secondsSince(start);
    if (!result) {
        std::fprintf(stderr, "no waveform for %s\n", file);
        return 1;
    }
    std::printf("%.6f\n", seconds);
    return 0;
}

// Runs one request and waits for its answer in an event loop, as a view would; returns seconds.
template <typename Request>
double timeRequest(Request request)
{
    QEventLoop loop;
    bool answered = false;
    const auto start = Clock::now();
    request([&] {
        answered = true;
        loop.quit();
    });
    if (!answered) {
        loop.exec();
    }
    return secondsSince(start);
}

int loader(const char* file, int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    AudioWaveformLoader loader;
    QObject context;
    const QUrl url = QUrl::fromLocalFile(QString::fromLocal8Bit(file));
    const auto samples = [&](auto done) { loader.loadStereoSamples(url, &context, [done](auto) { done(); }); };
    const auto duration = [&](auto done) { loader.loadDurationSeconds(url, &context, [done](auto) { done(); }); };

    AudioWaveformLoader coldLoader;
    const double coldDuration =
        timeRequest([&](auto done) { coldLoader.loadDurationSeconds(url, &context, [done](auto) { done(); }); });
    const double first = timeRequest(samples);
    const double cached = timeRequest(samples);
    const double cachedDuration = timeRequest(duration);
    std::printf("first request      %9.3f ms\n", first * 1e3);
    std::printf("cached request     %9.3f ms\n", cached * 1e3);
    std::printf("duration lookup    %9.3f ms (uncached)\n", coldDuration * 1e3);
    std::printf("duration lookup    %9.3f ms (cached by the waveform)\n", cachedDuration * 1e3);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "extract") == 0) {
        return extract(argv[2]);
    }
    if (argc == 3 && std::strcmp(argv[1], "loader") == 0) {
        return loader(argv[2], argc, argv);
    }
    std::fprintf(stderr, "usage: %s extract|loader FILE\n", argv[0]);
    return 2;
}
