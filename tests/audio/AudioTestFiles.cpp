#include "tests/audio/AudioTestFiles.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <map>
#include <numbers>

namespace ferrylantern::test {

namespace {

template <typename T>
void put(std::ofstream& out, T value)
{
    out.write(reinterpret_cast<const char*>(&value), sizeof value); // the machine is little-endian, as WAV
}

// ffmpeg arguments (after the inputs' lavfi sources) for each named file.
struct Recipe
{
    QStringList arguments;
    double truncateTo = 1.0; // fraction of the file kept
};

const std::map<std::string, Recipe>& recipes()
{
    static const std::map<std::string, Recipe> table{
        {"stereo-48k-320k.mp3",
         {{"-f", "lavfi", "-i", "sine=f=440:r=48000:d=2", "-ac", "2", "-c:a", "libmp3lame", "-b:a", "320k"}}},
        {"stereo-44k.m4a", {{"-f", "lavfi", "-i", "sine=f=440:r=44100:d=2", "-ac", "2", "-c:a", "aac"}}},
        {"stereo-96k-24bit.flac",
         {{"-f", "lavfi", "-i", "sine=f=440:r=96000:d=2", "-ac", "2", "-c:a", "flac", "-sample_fmt", "s32",
           "-bits_per_raw_sample", "24"}}},
        {"stereo-48k.ogg", {{"-f", "lavfi", "-i", "sine=f=440:r=48000:d=2", "-ac", "2", "-c:a", "libopus"}}},
        {"truncated.flac", {{"-f", "lavfi", "-i", "sine=f=440:r=44100:d=3", "-ac", "2", "-c:a", "flac"}, 0.5}},
        {"silence-100s.flac",
         {{"-f", "lavfi", "-i", "anullsrc=r=44100:cl=stereo", "-t", "100", "-c:a", "flac", "-sample_fmt", "s16"}}},
    };
    return table;
}

} // namespace

std::vector<std::int16_t> sineFrames(std::int64_t frames, int sampleRate, const std::vector<double>& amplitudes,
                                     double frequency)
{
    constexpr double fullScale = 32767.0;
    const auto channels = static_cast<std::int64_t>(amplitudes.size());
    std::vector<std::int16_t> samples(static_cast<std::size_t>(frames * channels));
    for (std::int64_t frame = 0; frame < frames; ++frame) {
        const double wave = std::sin(2 * std::numbers::pi * frequency * static_cast<double>(frame) / sampleRate);
        for (std::int64_t channel = 0; channel < channels; ++channel) {
            samples[static_cast<std::size_t>(frame * channels + channel)] = static_cast<std::int16_t>(
                std::lround(wave * amplitudes[static_cast<std::size_t>(channel)] * fullScale));
        }
    }
    return samples;
}

void writeWav(const std::filesystem::path& path, int sampleRate, int channels, const std::vector<std::int16_t>& samples)
{
    constexpr std::uint16_t pcmFormat = 1;
    constexpr std::uint16_t bitsPerSample = 16;
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * sizeof(std::int16_t));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write("RIFF", 4);
    put<std::uint32_t>(out, 36 + dataBytes);
    out.write("WAVEfmt ", 8);
    put<std::uint32_t>(out, 16);
    put<std::uint16_t>(out, pcmFormat);
    put<std::uint16_t>(out, static_cast<std::uint16_t>(channels));
    put<std::uint32_t>(out, static_cast<std::uint32_t>(sampleRate));
    put<std::uint32_t>(out, static_cast<std::uint32_t>(sampleRate * channels * bitsPerSample / 8));
    put<std::uint16_t>(out, static_cast<std::uint16_t>(channels * bitsPerSample / 8));
    put<std::uint16_t>(out, bitsPerSample);
    out.write("data", 4);
    put<std::uint32_t>(out, dataBytes);
    out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(dataBytes));
}

void writeTextFile(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::filesystem::path generatedAudio(const std::string& name)
{
    const std::filesystem::path folder(FERRYLANTERN_TEST_AUDIO_CACHE);
    const std::filesystem::path target = folder / name;
    if (std::filesystem::exists(target)) {
        return target;
    }
    const auto recipe = recipes().find(name);
    if (recipe == recipes().end()) {
        ADD_FAILURE() << "no recipe for test audio " << name;
        return {};
    }
    std::filesystem::create_directories(folder);
    // Made under a name of its own and renamed, so parallel test processes never see half a file.
    const auto partial = folder / (std::to_string(::getpid()) + ".part" + target.extension().string());
    QStringList arguments{"-v", "error", "-nostdin", "-y"};
    arguments << recipe->second.arguments << QString::fromStdString(partial.string());
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), arguments);
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0) {
        ADD_FAILURE() << "ffmpeg could not make " << name << ": " << ffmpeg.readAllStandardError().toStdString();
        return {};
    }
    if (recipe->second.truncateTo < 1.0) {
        const auto size = std::filesystem::file_size(partial);
        std::filesystem::resize_file(
            partial, static_cast<std::uintmax_t>(static_cast<double>(size) * recipe->second.truncateTo));
    }
    std::filesystem::rename(partial, target);
    return target;
}

} // namespace ferrylantern::test
