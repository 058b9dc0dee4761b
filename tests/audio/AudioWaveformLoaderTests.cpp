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

// A loader whose decoding is counted and faked; `succeed` decides whether extraction and probing work.
class CountingLoader : public testing::Test
{
protected:
    CountingLoader()
        : loader(operations())
    {
        file = folder.path() / "take.wav";
        test::writeWav(file, 8000, 1, std::vector<std::int16_t>(800, 100));
        url = QUrl::fromLocalFile(QString::fromStdString(file.string()));
    }

    AudioWaveformLoader::Operations operations()
    {
        AudioWaveformLoader::Operations fake;
        fake.extractStereoWaveform = [this](const std::filesystem::path&, int, int) -> std::optional<ExtractionResult> {
            ++extractions;
            if (!succeed) {
                return std::nullopt;
            }
            return ExtractionResult{StereoWaveformSamples{true, {1.0f}, {}}, 12.5};
        };
        fake.readDurationSeconds = [this](const std::filesystem::path&) -> std::optional<double> {
            ++durationLookups;
            return succeed ? std::optional<double>(7.0) : std::nullopt;
        };
        fake.probeFormat = [this](const std::filesystem::path&, std::int64_t) -> std::optional<AudioStreamFormat> {
            ++probes;
            return succeed ? std::optional(AudioStreamFormat{44100, 16, 1411}) : std::nullopt;
        };
        return fake;
    }

    // Makes one request and waits for its answer.
    template <typename T, typename Request>
    std::optional<T> await(Request request)
    {
        std::optional<std::optional<T>> answer;
        request([&](std::optional<T> result) { answer = std::move(result); });
        EXPECT_TRUE(pumpUntil([&] { return answer.has_value(); }));
        return answer.value_or(std::nullopt);
    }

    std::optional<StereoWaveformSamples> samples()
    {
        return await<StereoWaveformSamples>([&](auto done) { loader.loadStereoSamples(url, &context, done); });
    }

    std::optional<double> duration()
    {
        return await<double>([&](auto done) { loader.loadDurationSeconds(url, &context, done); });
    }

    std::optional<QString> caption(const QString& fileName)
    {
        return await<QString>([&](auto done) { loader.loadFormatCaption(url, fileName, 1600, &context, done); });
    }

    TemporaryFolder folder;
    std::filesystem::path file;
    QUrl url;
    QObject context;
    std::atomic<int> extractions{0};
    std::atomic<int> durationLookups{0};
    std::atomic<int> probes{0};
    std::atomic<bool> succeed{true};
    AudioWaveformLoader loader; // last: its pool's work uses the fields above
};

TEST_F(CountingLoader, DecodesAnUnchangedFileOnceAndAgainAfterItChanges)
{
    EXPECT_TRUE(samples());
    EXPECT_TRUE(samples());
    EXPECT_EQ(extractions, 1);

    // A new modification time is a new version of the file.
    std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) + std::chrono::seconds(5));
    EXPECT_TRUE(samples());
    EXPECT_EQ(extractions, 2);

    // So is a new size, even with the same modification time.
    const auto modified = std::filesystem::last_write_time(file);
    std::filesystem::resize_file(file, std::filesystem::file_size(file) + 2);
    std::filesystem::last_write_time(file, modified);
    EXPECT_TRUE(samples());
    EXPECT_EQ(extractions, 3);
}

TEST_F(CountingLoader, CachesNoFailureAndProbesOnlyAudioNames)
{
    // A file whose name is not audio is never probed.
    EXPECT_FALSE(caption(QStringLiteral("take.txt")));
    EXPECT_FALSE(caption(QStringLiteral("take")));
    EXPECT_EQ(probes, 0);

    succeed = false;
    EXPECT_FALSE(samples());
    EXPECT_FALSE(duration());
    EXPECT_FALSE(caption(QStringLiteral("take.wav")));
    succeed = true;
    EXPECT_TRUE(samples());
    EXPECT_EQ(duration(), 12.5); // from the waveform's extraction
    EXPECT_EQ(caption(QStringLiteral("take.wav")), QString::fromUtf8("44.1 kHz · 16-bit"));
    EXPECT_EQ(extractions, 2);
    EXPECT_EQ(durationLookups, 1);
    EXPECT_EQ(probes, 2);
}

TEST(AudioWaveformLoaderLanes, AnswersDurationsAndCaptionsWhileEveryWaveformWaits)
{
    constexpr int rowCount = 24;
    TemporaryFolder folder;
    std::vector<QUrl> urls;
    for (int row = 0; row < rowCount; ++row) {
        const auto path = folder.path() / ("song-" + std::to_string(row) + ".wav");
        test::writeWav(path, 44100, 2, test::sineFrames(4410, 44100, {0.5, 0.5}));
        urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path.string())));
    }
    // Holds every extraction back until the test opens it; never longer than a minute, so a failing test ends.
    std::promise<void> gateOpened;
    const std::shared_future<void> gate = gateOpened.get_future().share();
    std::once_flag opening;
    const auto openGate = [&] { std::call_once(opening, [&] { gateOpened.set_value(); }); };
    std::atomic<int> extracting{0};
    std::atomic<int> mostAtOnce{0};
    auto operations = AudioWaveformLoader::Operations::real();
    operations.extractStereoWaveform = [&](const std::filesystem::path& path, int buckets, int frames) {
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
}

} // namespace
} // namespace ferrylantern
