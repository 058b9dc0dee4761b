// ferrylantern-gallery: shows every desktop view with sample data.
//
//     ferrylantern-gallery                    a window; its settings section switches the appearance
//     ferrylantern-gallery --screenshot DIR   saves each section as DIR/NAME-dark.png and NAME-light.png
//
// The gallery keeps its preferences in a temporary file of its own, so it never changes the
// application's settings.
#include "audio/AudioPlaybackController.h"
#include "audio/AudioWaveformLoader.h"
#include "audio/WaveformExtraction.h"
#include "ui/AppearanceController.h"
#include "ui/AudioWaveformView.h"
#include "ui/UserPreferences.h"
#include "ui/gallery/GalleryWindow.h"
#include "ui/gallery/SampleAudio.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <atomic>
#include <chrono>
#include <cstdio>

namespace {

using namespace ferrylantern;
using namespace std::chrono_literals;

constexpr auto settleTimeout = 20s;

// The real loader's work, except that the file named "loading…" is held back until the gallery ends,
// so its waveform view stays in the loading state.
AudioWaveformLoader::Operations heldBackOperations(std::atomic<bool>& released)
{
    auto operations = AudioWaveformLoader::Operations::real();
    operations.extractStereoWaveform =
        [&released, real = operations.extractStereoWaveform](const std::filesystem::path& path, int count, int frames) {
            if (path.filename().string().starts_with("loading")) {
                while (!released.load()) {
                    QThread::msleep(20);
                }
                return std::optional<ExtractionResult>();
            }
            return real(path, count, frames);
        };
    return operations;
}

bool waitUntil(const std::function<bool()>& condition)
{
    QDeadlineTimer deadline(settleTimeout);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

void settleDrawing()
{
    for (int round = 0; round < 5; ++round) {
        QApplication::processEvents();
        QApplication::sendPostedEvents();
    }
}

int saveScreenshots(gallery::GalleryWindow& window, UserPreferences& preferences, const QString& folder)
{
    QTextStream err(stderr);
    if (!QDir().mkpath(folder)) {
        err << "cannot create " << folder << "\n";
        return 1;
    }
    if (!waitUntil([&window] { return window.isSettled(); })) {
        err << "waveforms, captions or durations did not load in time\n";
        return 1;
    }
    for (const auto appearance : {AppAppearanceSettings::dark, AppAppearanceSettings::light}) {
        preferences.setAppearance(appearance);
        settleDrawing();
        for (const auto& [stem, section] : window.sections()) {
            const QString path = QDir(folder).filePath(stem + QLatin1Char('-') + rawValue(appearance) + ".png");
            if (!section->grab().save(path)) {
                err << "cannot write " << path << "\n";
                return 1;
            }
            QTextStream(stdout) << path << "\n";
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ferrylantern-gallery"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Every FerryLantern view with sample data."));
    parser.addHelpOption();
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Save each view as PNG files in <dir> and exit."),
                                        QStringLiteral("dir"));
    parser.addOption(screenshot);
    parser.process(application);

    QTemporaryDir samplesFolder;
    if (!samplesFolder.isValid()) {
        std::fputs("cannot create a temporary folder\n", stderr);
        return 1;
    }
    const auto files = gallery::writeSampleFiles(samplesFolder.path());
    UserPreferences preferences(preferences::PreferenceScope(samplesFolder.filePath(QStringLiteral("gallery.ini"))));
    preferences.setPINCode(QStringLiteral("2580"));
    AppearanceController appearance(preferences);

    std::atomic<bool> released{false};
    AudioWaveformLoader loader(heldBackOperations(released));
    auto& playback = AudioPlaybackController::shared();

    int status = 0;
    {
        gallery::GalleryWindow window(files, preferences, playback, loader);
        window.show();
        // The first waveform has the keyboard, so its focus ring shows.
        QApplication::setActiveWindow(&window);
        if (auto* first = window.findChild<AudioWaveformView*>()) {
            first->setFocus();
        }
        // The stereo card is the active file, paused at 40 %, so its playhead and time text show.
        playback.seek(0.4, QUrl::fromLocalFile(files.stereoWav));
        if (parser.isSet(screenshot)) {
            status = saveScreenshots(window, preferences, parser.value(screenshot));
        } else {
            status = QApplication::exec();
        }
        playback.stop();
    }
    released = true;
    return status;
}
