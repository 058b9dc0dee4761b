#include "audio/AudioDecoder.h"

#include "audio/FFmpegSupport.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <vector>

namespace ferrylantern {

namespace {

// When the first frame after a seek lies before the wanted frame, the difference is decoded and
// dropped; seeking to a point earlier by this much gives decoders with inter-frame state (MP3's bit
// reservoir) a few frames to settle before the wanted one.
constexpr double seekPrerollSeconds = 0.1;

// The largest value a mixed-down sample may take: the resampler scales its matrix so that the channels
// it adds up, all at full scale together, still give full scale (unscaled, a 5.1 file's front, centre
// and surround channels add up to about +3 dBFS in each output channel).
constexpr double downMixLargestSample = 1.0;

AVSampleFormat outputFormatFor(DecodedSampleType type)
{
    return type == DecodedSampleType::int16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLT;
}

int bytesPerSample(DecodedSampleType type)
{
    return type == DecodedSampleType::int16 ? 2 : 4;
}

} // namespace

struct AudioDecoder::Impl
{
    std::unique_ptr<AudioContainer> container;
    AVFormatContext* format = nullptr; // owned by container
    AVStream* stream = nullptr;
    ffmpeg::CodecContextPtr codec;
    ffmpeg::PacketPtr packet{av_packet_alloc()};
    ffmpeg::FramePtr frame{av_frame_alloc()};
    DecodedSampleType type = DecodedSampleType::int16;
    DecodedChannels channels = DecodedChannels::asInFile;
    DecoderStatus status = DecoderStatus::reading;
    bool demuxerReachedEnd = false;
    bool firstChunkTaken = false;
    // A packet failed to decode and no audio has been decoded since: cleared by the next decoded frame
    // (the decoder resynchronised); still set at the end of the file, it means the stream broke off.
    bool damagePending = false;

    // Frame-accurate start: frames before `targetFrame` are dropped. Positions are counted from the
    // start of the track; after a seek, the frames' time stamps tell where they lie until the target is
    // reached. (Counting from the start because the first frame of MP3 and Opus streams carries the time
    // stamp of the encoder delay it has trimmed; time stamps after a seek because the first frames
    // there may be trimmed the same way.)
    std::int64_t targetFrame = 0;
    std::int64_t nextPosition = 0;
    bool seeking = false;
    std::int64_t firstTimestamp = 0;

    // Conversion to the output sample type and channel layout, set up for the input it last saw.
    ffmpeg::ResamplerPtr resampler;
    AVChannelLayout resamplerInputLayout{};
    int resamplerInputFormat = -1;
    int resamplerInputRate = 0;
    AVChannelLayout outputLayout{};
    std::vector<std::uint8_t> converted;
    DecodedChunk chunk;

    ~Impl()
    {
        av_channel_layout_uninit(&resamplerInputLayout);
        av_channel_layout_uninit(&outputLayout);
    }

    enum class Feed
    {
        sent,       // a packet, or the end-of-stream signal, went to the decoder (or was damaged and dropped)
        readFailed, // the demuxer or the decoder failed in a way that ends decoding
    };
    Feed feedDecoder();
    void noteDecodingError(int error);
    const DecodedChunk* deliver();
    bool needsConversion() const;
    bool configureResampler();
    std::int64_t framePosition() const;
};

std::unique_ptr<AudioDecoder> AudioDecoder::open(std::unique_ptr<AudioContainer> container, DecodedSampleType type,
                                                 DecodedChannels channels)
{
    if (!container || container->audioStreamIndex() < 0) {
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->format = container->formatContext();
    impl->stream = impl->format->streams[container->audioStreamIndex()];
    impl->type = type;
    impl->channels = channels;
    const AVCodec* codec = avcodec_find_decoder(impl->stream->codecpar->codec_id);
    if (codec == nullptr || !impl->packet || !impl->frame) {
        return nullptr;
    }
    impl->codec.reset(avcodec_alloc_context3(codec));
    if (!impl->codec || avcodec_parameters_to_context(impl->codec.get(), impl->stream->codecpar) < 0 ||
        avcodec_open2(impl->codec.get(), codec, nullptr) < 0) {
        return nullptr;
    }
    // Other streams (cover art, video) are never read.
    for (unsigned i = 0; i < impl->format->nb_streams; ++i) {
        if (impl->format->streams[i] != impl->stream) {
            impl->format->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    impl->firstTimestamp = impl->stream->start_time != AV_NOPTS_VALUE ? impl->stream->start_time : 0;
    impl->container = std::move(container);
    return std::unique_ptr<AudioDecoder>(new AudioDecoder(std::move(impl)));
}

AudioDecoder::AudioDecoder(std::unique_ptr<Impl> impl)
    : impl_(std::move(impl))
{}

AudioDecoder::~AudioDecoder() = default;

const AudioContainer& AudioDecoder::container() const
{
    return *impl_->container;
}

DecoderStatus AudioDecoder::status() const
{
    return impl_->status;
}

void AudioDecoder::startAtFrame(std::int64_t frame)
{
    Impl& d = *impl_;
    if (frame <= 0 || d.firstChunkTaken) {
        return;
    }
    d.targetFrame = frame;
    const int rate = d.stream->codecpar->sample_rate;
    if (rate <= 0) {
        return;
    }
    const auto preroll = static_cast<std::int64_t>(seekPrerollSeconds * rate);
    const std::int64_t seekFrame = frame - preroll;
    if (seekFrame <= 0) {
        return; // close to the start: decoding from there is exact, a seek to 0 may not be
    }
    const std::int64_t timestamp = d.firstTimestamp + av_rescale_q(seekFrame, AVRational{1, rate}, d.stream->time_base);
    if (av_seek_frame(d.format, d.stream->index, timestamp, AVSEEK_FLAG_BACKWARD) >= 0) {
        avcodec_flush_buffers(d.codec.get());
        d.nextPosition = seekFrame; // in case the frames have no time stamps
        d.seeking = true;
    }
}

const DecodedChunk* AudioDecoder::nextChunk()
{
    Impl& d = *impl_;
    while (d.status == DecoderStatus::reading) {
        const int received = avcodec_receive_frame(d.codec.get(), d.frame.get());
        if (received == 0) {
            d.damagePending = false;
            if (const DecodedChunk* chunk = d.deliver()) {
                d.firstChunkTaken = true;
                return chunk;
            }
            continue;
        }
        if (received == AVERROR(EAGAIN)) {
            if (d.feedDecoder() == Impl::Feed::readFailed) {
                d.status = DecoderStatus::failed;
            }
            continue;
        }
        if (received == AVERROR_EOF) {
            d.status = d.demuxerReachedEnd && !d.damagePending ? DecoderStatus::completed : DecoderStatus::failed;
            continue;
        }
        d.noteDecodingError(received);
    }
    return nullptr;
}

// A packet that does not decode is dropped, and decoding goes on with the next one; whether the decoder
// found its footing again shows in the frames that follow. Running out of memory ends decoding.
void AudioDecoder::Impl::noteDecodingError(int error)
{
    if (error == AVERROR(ENOMEM)) {
        status = DecoderStatus::failed;
        return;
    }
    damagePending = true;
}

// Sends the next packet of our stream to the decoder, or the end-of-stream signal once the demuxer has
// reached the end of the file.
AudioDecoder::Impl::Feed AudioDecoder::Impl::feedDecoder()
{
    while (true) {
        const int read = av_read_frame(format, packet.get());
        if (read == AVERROR_EOF) {
            demuxerReachedEnd = true;
            return avcodec_send_packet(codec.get(), nullptr) >= 0 ? Feed::sent : Feed::readFailed;
        }
        if (read < 0) {
            return Feed::readFailed;
        }
        if (packet->stream_index != stream->index) {
            av_packet_unref(packet.get());
            continue;
        }
        const int sent = avcodec_send_packet(codec.get(), packet.get());
        av_packet_unref(packet.get());
        if (sent < 0) {
            noteDecodingError(sent);
            return status == DecoderStatus::failed ? Feed::readFailed : Feed::sent;
        }
        return Feed::sent;
    }
}

std::int64_t AudioDecoder::Impl::framePosition() const
{
    const std::int64_t timestamp = frame->best_effort_timestamp;
    if (!seeking || timestamp == AV_NOPTS_VALUE || frame->sample_rate <= 0) {
        return nextPosition;
    }
    return av_rescale_q(timestamp - firstTimestamp, stream->time_base, AVRational{1, frame->sample_rate});
}

bool AudioDecoder::Impl::needsConversion() const
{
    const int channelCount = frame->ch_layout.nb_channels;
    if (channels == DecodedChannels::atMostStereo && channelCount > 2) {
        return true;
    }
    const auto wanted = outputFormatFor(type);
    const auto have = static_cast<AVSampleFormat>(frame->format);
    return !(have == wanted || (channelCount == 1 && have == av_get_planar_sample_fmt(wanted)));
}

bool AudioDecoder::Impl::configureResampler()
{
    const bool sameInput = resampler && resamplerInputFormat == frame->format &&
                           resamplerInputRate == frame->sample_rate &&
                           av_channel_layout_compare(&resamplerInputLayout, &frame->ch_layout) == 0;
    if (sameInput) {
        return true;
    }
    av_channel_layout_uninit(&resamplerInputLayout);
    av_channel_layout_uninit(&outputLayout);
    if (av_channel_layout_copy(&resamplerInputLayout, &frame->ch_layout) < 0) {
        return false;
    }
    AVChannelLayout input{};
    const int inputChannels = frame->ch_layout.nb_channels;
    // A layout without channel positions cannot be mixed down; take the usual one for its width.
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_default(&input, inputChannels);
    } else if (av_channel_layout_copy(&input, &frame->ch_layout) < 0) {
        return false;
    }
    if (channels == DecodedChannels::atMostStereo && inputChannels > 2) {
        av_channel_layout_default(&outputLayout, 2);
    } else if (av_channel_layout_copy(&outputLayout, &input) < 0) {
        av_channel_layout_uninit(&input);
        return false;
    }
    SwrContext* raw = nullptr;
    const int allocated =
        swr_alloc_set_opts2(&raw, &outputLayout, outputFormatFor(type), frame->sample_rate, &input,
                            static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&input);
    resampler.reset(raw);
    if (allocated < 0 || av_opt_set_double(raw, "rematrix_maxval", downMixLargestSample, 0) < 0 ||
        swr_init(resampler.get()) < 0) {
        resampler.reset();
        return false;
    }
    resamplerInputFormat = frame->format;
    resamplerInputRate = frame->sample_rate;
    return true;
}

// Turns the decoded frame into a chunk, dropping what lies before the start frame. Nullptr when the
// whole frame is dropped (or empty); a failed conversion also ends decoding.
const DecodedChunk* AudioDecoder::Impl::deliver()
{
    const std::int64_t position = framePosition();
    std::int64_t frameCount = frame->nb_samples;
    nextPosition = position + frameCount;
    const std::int64_t skipped = targetFrame > 0 ? std::clamp<std::int64_t>(targetFrame - position, 0, frameCount) : 0;
    frameCount -= skipped;
    if (frameCount <= 0) {
        av_frame_unref(frame.get());
        return nullptr;
    }
    targetFrame = 0; // later frames follow on
    seeking = false;

    const std::uint8_t* data = frame->data[0];
    int channelCount = frame->ch_layout.nb_channels;
    if (needsConversion()) {
        if (!configureResampler()) {
            status = DecoderStatus::failed;
            return nullptr;
        }
        channelCount = outputLayout.nb_channels;
        converted.resize(static_cast<std::size_t>(frame->nb_samples) * channelCount * bytesPerSample(type));
        std::uint8_t* out = converted.data();
        const int convertedFrames =
            swr_convert(resampler.get(), &out, frame->nb_samples,
                        const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
        if (convertedFrames < 0) {
            status = DecoderStatus::failed;
            return nullptr;
        }
        frameCount = std::max<std::int64_t>(0, convertedFrames - skipped);
        data = converted.data();
    }
    const std::int64_t frameBytes = static_cast<std::int64_t>(channelCount) * bytesPerSample(type);
    chunk.data = data + skipped * frameBytes;
    chunk.frameCount = frameCount;
    chunk.byteCount = frameCount * frameBytes;
    chunk.sampleRate = frame->sample_rate;
    chunk.channelCount = channelCount;
    return &chunk;
}

} // namespace ferrylantern
