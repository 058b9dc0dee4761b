#include "ui/gallery/SampleAudio.h"

#include <QDir>
#include <QFile>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace ferrylantern::gallery {

namespace {

void putLittleEndian(QByteArray& bytes, std::uint32_t value, int size)
{
    for (int index = 0; index < size; ++index) {
        bytes.append(static_cast<char>((value >> (8 * index)) & 0xFF));
    }
}

// A canonical 16-bit PCM WAV file of interleaved samples.
void writeWav(const QString& path, int sampleRate, int channels, const std::vector<std::int16_t>& samples)
{
    constexpr int bitsPerSample = 16;
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * sizeof(std::int16_t));
    QByteArray bytes;
    bytes.append("RIFF");
    putLittleEndian(bytes, 36 + dataBytes, 4);
    bytes.append("WAVEfmt ");
    putLittleEndian(bytes, 16, 4);
    putLittleEndian(bytes, 1, 2); // PCM
    putLittleEndian(bytes, static_cast<std::uint32_t>(channels), 2);
    putLittleEndian(bytes, static_cast<std::uint32_t>(sampleRate), 4);
    putLittleEndian(bytes, static_cast<std::uint32_t>(sampleRate * channels * bitsPerSample / 8), 4);
    putLittleEndian(bytes, static_cast<std::uint32_t>(channels * bitsPerSample / 8), 2);
    putLittleEndian(bytes, bitsPerSample, 2);
    bytes.append("data");
    putLittleEndian(bytes, dataBytes, 4);
    for (const std::int16_t sample : samples) {
        putLittleEndian(bytes, static_cast<std::uint16_t>(sample), 2);
    }
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(bytes);
    }
}

// Beats: a tone whose loudness jumps at each beat and decays, over a slow swell.
double beatEnvelope(double seconds, double beatsPerSecond, double phase)
{
    const double sinceBeat = std::fmod(seconds * beatsPerSecond + phase, 1.0) / beatsPerSecond;
    const double swell = 0.55 + 0.45 * std::sin(seconds * 0.9);
    return swell * std::exp(-sinceBeat * 7.0);
}

std::vector<std::int16_t> beats(int sampleRate, double seconds, const std::vector<double>& phases)
{
    const auto frames = static_cast<std::int64_t>(sampleRate * seconds);
    const auto channels = static_cast<std::int64_t>(phases.size());
    std::vector<std::int16_t> samples(static_cast<std::size_t>(frames * channels));
    for (std::int64_t frame = 0; frame < frames; ++frame) {
        const double time = static_cast<double>(frame) / sampleRate;
        for (std::int64_t channel = 0; channel < channels; ++channel) {
            const double phase = phases[static_cast<std::size_t>(channel)];
            const double tone = std::sin(2 * std::numbers::pi * (220.0 + 110.0 * channel) * time) * 0.8 +
                                std::sin(2 * std::numbers::pi * 55.0 * time) * 0.2;
            const double value = tone * beatEnvelope(time, 2.0 + channel * 0.5, phase) * 0.95;
            samples[static_cast<std::size_t>(frame * channels + channel)] =
                static_cast<std::int16_t>(std::lround(value * 32767.0));
        }
    }
    return samples;
}

} // namespace

SampleFiles writeSampleFiles(const QString& folder)
{
    const QDir dir(folder);
    SampleFiles files{
        .monoWav = dir.filePath(QStringLiteral("voice memo.wav")),
        .stereoWav = dir.filePath(QStringLiteral("rehearsal take 3.wav")),
        .slowWav = dir.filePath(QStringLiteral("loading.wav")),
        .brokenWav = dir.filePath(QStringLiteral("not really audio.wav")),
        .document = dir.filePath(QStringLiteral("boarding pass.pdf")),
        .unknown = dir.filePath(QStringLiteral("settings.zzq")),
    };
    writeWav(files.monoWav, 44100, 1, beats(44100, 6.5, {0.0}));
    writeWav(files.stereoWav, 48000, 2, beats(48000, 12.0, {0.0, 0.35}));
    writeWav(files.slowWav, 48000, 2, beats(48000, 2.0, {0.0, 0.5}));
    for (const auto& [path, text] : {std::pair{files.brokenWav, QByteArray("this is text, not a RIFF file\n")},
                                     std::pair{files.document, QByteArray("%PDF-1.4\n%%EOF\n")},
                                     std::pair{files.unknown, QByteArray("key=value\n")}}) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write(text);
        }
    }
    return files;
}

} // namespace ferrylantern::gallery
