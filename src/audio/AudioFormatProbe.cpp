#include "audio/AudioFormatProbe.h"

#include "audio/AudioContainer.h"

#include <sndfile.h>

#include <cmath>
#include <limits>
#include <memory>

namespace ferrylantern {

namespace {

constexpr double bitsPerByte = 8.0;
constexpr double bitsPerKilobit = 1000.0;

struct SoundFileCloser
{
    void operator()(SNDFILE* file) const { sf_close(file); }
};

// Bits per sample of the libsndfile sub-format; 0 for lossy encodings (μ-law, A-law, ADPCM, MPEG, Vorbis,
// Opus...), as for the decoder's tracks.
int bitsPerChannel(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_DPCM_8:
        return 8;
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_DWVW_16:
    case SF_FORMAT_DPCM_16:
    case SF_FORMAT_ALAC_16:
        return 16;
    case SF_FORMAT_ALAC_20:
        return 20;
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_DWVW_24:
    case SF_FORMAT_ALAC_24:
        return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_ALAC_32:
        return 32;
    case SF_FORMAT_DOUBLE:
        return 64;
    default:
        return 0;
    }
}

// Rounds half away from zero; a value beyond the range of int (a nonsense rate from a damaged header)
// saturates instead of overflowing.
int roundedToInt(double value)
{
    constexpr double largest = std::numeric_limits<int>::max();
    const double rounded = std::round(value);
    return rounded >= largest ? std::numeric_limits<int>::max() : static_cast<int>(rounded);
}

// The probe's running values: R, B and K.
struct ProbedValues
{
    int sampleRate = 0;
    int bitDepth = 0;
    int bitrateKbps = 0;
};

void readTrackDescription(const AudioTrackInfo& track, ProbedValues& values)
{
    if (track.sampleRate <= 0) {
        return; // no usable stream description: R and B stay 0
    }
    values.sampleRate = track.sampleRate;
    // The codec decides, not the file name: ALAC in an .m4a file and FLAC in an .oga file have a bit depth,
    // ADPCM in a .wav file has none (its 4 bits per sample are a coding, not a resolution).
    values.bitDepth = track.hasBitDepth ? track.bitsPerChannel : 0;
    // The declared rate in kbps, rounded in 32-bit floats as the track reports it.
    const auto bitsPerSecond = static_cast<float>(track.bitRate);
    values.bitrateKbps = bitsPerSecond <= 0 ? 0 : roundedToInt(std::round(bitsPerSecond / 1000.0f));
}

} // namespace

std::optional<AudioStreamFormat> probeFormat(const std::filesystem::path& path, std::int64_t fileByteCount)
{
    ProbedValues values;
    double duration = 0;
    if (const auto container = AudioContainer::open(path)) {
        const double seconds = container->durationSeconds();
        duration = std::isfinite(seconds) && seconds > 0 ? seconds : 0;
        if (const auto track = container->firstAudioTrack()) {
            readTrackDescription(*track, values);
        }
    }
    if (values.sampleRate < 1) {
        if (const auto fallback = readFileFormatFallback(path)) {
            values.sampleRate = fallback->sampleRateHz;
            if (values.bitDepth == 0) {
                values.bitDepth = fallback->bitDepth;
            }
        }
    }
    if (values.bitrateKbps < 1 && fileByteCount >= 1 && duration > 0) {
        // The file's average rate, container overhead included.
        const double kbps = static_cast<double>(fileByteCount) * bitsPerByte / bitsPerKilobit / duration;
        values.bitrateKbps = roundedToInt(kbps);
    }
    if (values.bitDepth < 1 && values.bitrateKbps < 1) {
        if (const auto fallback = readFileFormatFallback(path)) {
            values.bitDepth = fallback->bitDepth;
        }
    }
    if (values.sampleRate < 1) {
        return std::nullopt;
    }
    return AudioStreamFormat{values.sampleRate, std::max(values.bitDepth, 0), std::max(values.bitrateKbps, 0)};
}

std::optional<FallbackFileFormat> readFileFormatFallback(const std::filesystem::path& path)
{
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, SoundFileCloser> file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) {
        return std::nullopt;
    }
    if (info.samplerate <= 0) {
        return std::nullopt;
    }
    // libsndfile reports MPEG and Opus streams with sub-formats that bitsPerChannel maps to 0.
    return FallbackFileFormat{info.samplerate, bitsPerChannel(info.format)};
}

} // namespace ferrylantern
