#include "tests/ui/ViewTestSupport.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QPainter>

#include <cmath>

namespace ferrylantern::test {

namespace {

template <typename T>
std::optional<T> lookUp(const std::map<std::string, T>& table, const std::filesystem::path& path)
{
    const auto found = table.find(path.string());
    return found == table.end() ? std::nullopt : std::optional<T>(found->second);
}

} // namespace

AudioWaveformLoader::Operations CannedAudio::operations() const
{
    AudioWaveformLoader::Operations operations;
    operations.extractStereoWaveform = [canned = *this](const std::filesystem::path& path, int, int) {
        const auto samples = lookUp(canned.waveforms, path);
        if (!samples) {
            return std::optional<ExtractionResult>();
        }
        return std::optional(ExtractionResult{*samples, lookUp(canned.durations, path).value_or(1.0)});
    };
    operations.readDurationSeconds = [canned = *this](const std::filesystem::path& path) {
        return lookUp(canned.durations, path);
    };
    operations.probeFormat = [canned = *this](const std::filesystem::path& path, std::int64_t) {
        return lookUp(canned.formats, path);
    };
    return operations;
}

void deliverLoaderAnswers(AudioWaveformLoader& loader)
{
    loader.waitForIdle();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

StereoWaveformSamples monoSamples(float level)
{
    return {true, std::vector<float>(AudioWaveformLoader::targetSampleCount, level), {}};
}

StereoWaveformSamples stereoSamples(float level)
{
    return {false, std::vector<float>(AudioWaveformLoader::targetSampleCount, level),
            std::vector<float>(AudioWaveformLoader::targetSampleCount, level / 2)};
}

PlaybackRig::PlaybackRig()
{
    auto engine = std::make_unique<ManualAudioOutputEngine>();
    auto queue = std::make_unique<ManualAudioNodeQueue>();
    engine_ = engine.get();
    queue_ = queue.get();
    controller_ = std::make_unique<AudioPlaybackController>(
        std::move(engine), std::move(queue),
        [this](const std::filesystem::path& path) -> std::optional<AudioFileFormat> {
            const auto found = formats_.find(path.string());
            return found == formats_.end() ? std::nullopt : std::optional(found->second);
        });
}

void PlaybackRig::addFile(const QUrl& url, AudioFileFormat format)
{
    formats_[url.toLocalFile().toStdString()] = format;
    engine_->setStream(url.toLocalFile().toStdString(), {format.lengthFrames});
}

void PlaybackRig::settle()
{
    do {
        queue_->runAll();
        QCoreApplication::sendPostedEvents();
    } while (!queue_->isEmpty());
}

TemporaryPreferences::TemporaryPreferences()
    : preferences_(std::make_unique<UserPreferences>(
          preferences::PreferenceScope(QString::fromStdString((folder_.path() / "preferences.ini").string()))))
{}

OpenedURLs::OpenedURLs(const QString& scheme)
    : scheme_(scheme)
{
    QDesktopServices::setUrlHandler(scheme_, this, "open");
}

OpenedURLs::~OpenedURLs()
{
    QDesktopServices::unsetUrlHandler(scheme_);
}

QImage render(QWidget& widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

double contrastRatio(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& color) {
        const auto linear = [](double channel) {
            return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
    };
    const double lighter = std::max(luminance(a), luminance(b));
    const double darker = std::min(luminance(a), luminance(b));
    return (lighter + 0.05) / (darker + 0.05);
}

} // namespace ferrylantern::test
