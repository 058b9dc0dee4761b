#include "audio/AudioContainer.h"

#include "audio/FFmpegSupport.h"

#include <cmath>
#include <limits>

namespace ferrylantern {

namespace {

// FFmpeg marks every PCM variant and lossless codec as lossless, and lossy ones (μ-law and A-law, ADPCM,
// MPEG audio, AAC, Opus...) as lossy; a codec that can be either has no fixed bit depth.
bool hasBitDepth(AVCodecID codec)
{
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec);
    return descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_LOSSLESS) != 0 &&
           (descriptor->props & AV_CODEC_PROP_LOSSY) == 0;
}

} // namespace

std::unique_ptr<AudioContainer> AudioContainer::open(const std::filesystem::path& path)
{
    ffmpeg::silenceLogging();
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
        return nullptr;
    }
    ffmpeg::FormatContextPtr context(raw);
    if (avformat_find_stream_info(context.get(), nullptr) < 0) {
        return nullptr;
    }
    return std::unique_ptr<AudioContainer>(new AudioContainer(context.release()));
}

AudioContainer::AudioContainer(AVFormatContext* context)
    : context_(context)
{
    for (unsigned i = 0; i < context_->nb_streams; ++i) {
        if (context_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            audioStreamIndex_ = static_cast<int>(i);
            break;
        }
    }
}

AudioContainer::~AudioContainer()
{
    avformat_close_input(&context_);
}

std::optional<AudioTrackInfo> AudioContainer::firstAudioTrack() const
{
    if (audioStreamIndex_ < 0) {
        return std::nullopt;
    }
    const AVCodecParameters& parameters = *context_->streams[audioStreamIndex_]->codecpar;
    AudioTrackInfo track;
    track.sampleRate = parameters.sample_rate;
    track.channelCount = parameters.ch_layout.nb_channels;
    track.bitsPerChannel =
        parameters.bits_per_raw_sample > 0 ? parameters.bits_per_raw_sample : parameters.bits_per_coded_sample;
    track.bitRate = parameters.bit_rate;
    track.hasBitDepth = hasBitDepth(parameters.codec_id);
    return track;
}

double AudioContainer::durationSeconds() const
{
    if (audioStreamIndex_ >= 0) {
        const AVStream& stream = *context_->streams[audioStreamIndex_];
        if (stream.duration != AV_NOPTS_VALUE && stream.time_base.den != 0) {
            return static_cast<double>(stream.duration) * av_q2d(stream.time_base);
        }
    }
    if (context_->duration != AV_NOPTS_VALUE) {
        return static_cast<double>(context_->duration) / AV_TIME_BASE;
    }
    return std::numeric_limits<double>::quiet_NaN();
}

bool AudioContainer::isDurationEstimated() const
{
    return context_->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
}

std::optional<AudioFileFormat> readAudioFileFormat(const std::filesystem::path& path)
{
    const auto container = AudioContainer::open(path);
    if (!container) {
        return std::nullopt;
    }
    const auto track = container->firstAudioTrack();
    if (!track) {
        return std::nullopt;
    }
    AudioFileFormat format;
    format.sampleRate = track->sampleRate;
    format.channelCount = track->channelCount;
    // A length beyond what a double holds exactly is no real file; such values read as unplayable.
    constexpr double largestLength = 9007199254740992.0; // 2^53
    const double length = std::round(container->durationSeconds() * format.sampleRate);
    format.lengthFrames =
        std::isfinite(length) && length > 0 && length <= largestLength ? static_cast<std::int64_t>(length) : 0;
    return format;
}

} // namespace ferrylantern
