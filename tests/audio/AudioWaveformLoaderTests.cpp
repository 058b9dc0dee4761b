#include "audio/AudioWaveformLoader.h"
#include "audio/WaveformExtraction.h"
#include "tests/audio/AudioTestFiles.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>

namespace ferrylantern {
namespace {

using test::TemporaryFolder;

// Processes queued invocations until `done` holds or five seconds pass.
bool pumpUntil(const std::function<bool()>& done)
{
    return test::eventually([&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return done();
    });
}

// The real loader over real files, with every extraction counted and held at a gate the test opens.
TEST(AudioWaveformLoader, AnswersDurationsAndCaptionsWhileEveryWaveformWaitsThenDecodesEachVersionOnce)
{
    constexpr int rowCount = 24;
    TemporaryFolder folder;
    std::vector<QUrl> urls;
    for (int row = 0; row < rowCount; ++row) {
        const auto path = folder.path() / ("song-" + std::to_string(row) + ".wav");
        test::writeWav(path, 44100, 2, test::sineFrames(4410, 44100, {0.5, 0.5}));
        urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path.string())));
    }
    // Never held longer than a minute, so a failing test ends.
    std::promise<void> gateOpened;
    const std::shared_future<void> gate = gateOpened.get_future().share();
    std::once_flag opening;
    const auto openGate = [&] { std::call_once(opening, [&] { gateOpened.set_value(); }); };
    std::atomic<int> extracting{0};
    std::atomic<int> mostAtOnce{0};
    std::atomic<int> extractions{0};
    auto operations = AudioWaveformLoader::Operations::real();
    operations.extractStereoWaveform = [&](const std::filesystem::path& path, int buckets, int frames) {
        ++extractions;
        const int now = ++extracting;
        for (int most = mostAtOnce; now > most && !mostAtOnce.compare_exchange_weak(most, now);) {
        }
        gate.wait_for(std::chrono::minutes(1));
        --extracting;
        return extractStereoWaveform(path, buckets, frames);
    };
    AudioWaveformLoader loader(operations);
    const auto openOnExit = qScopeGuard(openGate); // before the loader waits for its work

    // A list of 24 songs comes into view: every row asks for its waveform first, then its duration and caption.
    QObject context;
    int waveforms = 0;
    int durations = 0;
    int captions = 0;
    for (const QUrl& url : urls) {
        loader.loadStereoSamples(url, &context, [&](auto samples) { waveforms += samples.has_value(); });
        loader.loadDurationSeconds(url, &context, [&](auto seconds) { durations += seconds == 0.1; });
        loader.loadFormatCaption(url, url.fileName(), 17684, &context,
                                 [&](auto text) { captions += text == QString::fromUtf8("44.1 kHz · 16-bit"); });
    }
    const int cores = QThread::idealThreadCount();
    ASSERT_TRUE(pumpUntil([&] { return durations == rowCount && captions == rowCount && extracting == cores; }));
    EXPECT_EQ(waveforms, 0) << "every extraction is still held at the gate";

    openGate();
    ASSERT_TRUE(pumpUntil([&] { return waveforms == rowCount; }));
    EXPECT_EQ(mostAtOnce, cores) << "one waveform per core, no more";

    // A file whose name is not audio gets no caption, whatever it holds.
    std::optional<std::optional<QString>> caption;
    loader.loadFormatCaption(urls[0], QStringLiteral("song.txt"), 17684, &context, [&](auto text) { caption = text; });
    ASSERT_TRUE(pumpUntil([&] { return caption.has_value(); }));
    EXPECT_FALSE(*caption);

    // Asked again, an unchanged file is answered from what was decoded; a new modification time or a new
    // size (with the old time) is a new version, decoded again.
    const auto file = std::filesystem::path(urls[0].toLocalFile().toStdString());
    const auto askAgain = [&] {
        const int before = waveforms;
        loader.loadStereoSamples(urls[0], &context, [&](auto samples) { waveforms += samples.has_value(); });
        EXPECT_TRUE(pumpUntil([&] { return waveforms == before + 1; }));
        return extractions - rowCount;
    };
    EXPECT_EQ(askAgain(), 0);
    std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) + std::chrono::seconds(5));
    EXPECT_EQ(askAgain(), 1);
    const auto modified = std::filesystem::last_write_time(file);
    std::filesystem::resize_file(file, std::filesystem::file_size(file) + 2);
    std::filesystem::last_write_time(file, modified);
    EXPECT_EQ(askAgain(), 2);

    // An answer for a context that is gone is dropped, not delivered.
    bool delivered = false;
    {
        QObject shortLived;
        loader.loadStereoSamples(urls[1], &shortLived, [&](auto) { delivered = true; });
    }
    loader.waitForIdle();
    QCoreApplication::processEvents();
    EXPECT_FALSE(delivered);
}

} // namespace
} // namespace ferrylantern
