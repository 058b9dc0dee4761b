#include "tests/audio/AudioTestFiles.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <map>
#include <numbers>

namespace ferrylantern::test {

namespace {

// ffmpeg arguments for each named file, and what is done to the file afterwards.
struct Recipe
{
    QStringList arguments;
    double truncateTo = 1.0;       // fraction of the file kept
    std::int64_t garbledBytes = 0; // bytes overwritten with noise in the middle of the file
};

QStringList sine(int rate, double seconds)
{
    return {"-f", "lavfi", "-i", QStringLiteral("sine=f=440:r=%1:d=%2").arg(rate).arg(seconds)};
}

QStringList stereoSine(int rate, double seconds)
{
    return sine(rate, seconds) + QStringList{"-ac", "2"};
}

// Loud noise first and a quiet tone after it: a variable-bit-rate MP3 whose first frames have the
// highest bit rate, so a length estimated from them falls well short.
QStringList loudThenQuiet()
{
    const QStringList noise{"-f", "lavfi", "-i", "anoisesrc=c=white:r=44100:a=0.5:d=0.3:s=1"};
    const QStringList tone{"-f", "lavfi", "-i", "sine=f=440:r=44100:d=2.7"};
    const QStringList join{"-filter_complex", "[0][1]concat=n=2:v=0:a=1,aformat=channel_layouts=stereo"};
    return noise + tone + join + QStringList{"-c:a", "libmp3lame", "-q:a", "4"};
}

// Every channel of a 5.1 file at full scale and in phase: the worst case for a down-mix.
QStringList fullScaleSurround()
{
    const QString channels = QStringList(6, QStringLiteral("sin(2*PI*440*t)")).join(QLatin1Char('|'));
    return {"-f", "lavfi", "-i", QStringLiteral("aevalsrc=exprs=%1:c=5.1:s=48000:d=2").arg(channels)};
}

// Each lasts 2 s unless its recipe says otherwise.
const std::map<std::string, Recipe>& recipes()
{
    static const std::map<std::string, Recipe> table{
        {"stereo-44k-s16.wav", {stereoSine(44100, 2) + QStringList{"-c:a", "pcm_s16le"}}},
        {"stereo-48k-s24.wav", {stereoSine(48000, 2) + QStringList{"-c:a", "pcm_s24le"}}},
        {"mono-22k.wav", {sine(22050, 2) + QStringList{"-c:a", "pcm_s16le"}}},
        {"surround-full-scale.wav", {fullScaleSurround() + QStringList{"-c:a", "pcm_s16le"}}},
        {"stereo-48k-320k.mp3", {stereoSine(48000, 2) + QStringList{"-c:a", "libmp3lame", "-b:a", "320k"}}},
        {"vbr-xing.mp3", {loudThenQuiet()}},
        // Without the Xing header that states its frame count, its length is only estimated, too short.
        {"vbr-no-xing.mp3", {loudThenQuiet() + QStringList{"-write_xing", "0"}}},
        {"stereo-44k.m4a", {stereoSine(44100, 2) + QStringList{"-c:a", "aac"}}},
        {"stereo-96k-24bit.flac",
         {stereoSine(96000, 2) + QStringList{"-c:a", "flac", "-sample_fmt", "s32", "-bits_per_raw_sample", "24"}}},
        {"stereo-48k.ogg", {stereoSine(48000, 2) + QStringList{"-c:a", "libopus"}}},
        {"alac-44k.m4a", {stereoSine(44100, 2) + QStringList{"-c:a", "alac"}}},
        {"adpcm-ima-44k.wav", {stereoSine(44100, 2) + QStringList{"-c:a", "adpcm_ima_wav"}}},
        // Damaged files: decoding fails part way; the MP3's header states 8 s; noise over the middle.
        {"truncated.flac", {stereoSine(44100, 3) + QStringList{"-c:a", "flac"}, 0.5}},
        {"truncated.mp3", {stereoSine(44100, 8) + QStringList{"-c:a", "libmp3lame", "-b:a", "128k"}, 0.25}},
        {"garbage-middle.mp3", {stereoSine(44100, 4) + QStringList{"-c:a", "libmp3lame", "-b:a", "128k"}, 1.0, 1500}},
        {"silence-100s.flac",
         {{"-f", "lavfi", "-i", "anullsrc=r=44100:cl=stereo", "-t", "100", "-c:a", "flac", "-sample_fmt", "s16"}}},
    };
    return table;
}

// Overwrites `count` bytes in the middle of `path` with noise that repeats from run to run.
void garbleMiddle(const std::filesystem::path& path, std::int64_t count)
{
    const auto size = static_cast<std::int64_t>(std::filesystem::file_size(path));
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(size / 2);
    std::uint32_t state = 0x2545F491;
    for (std::int64_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u; // a linear congruential generator (Numerical Recipes)
        file.put(static_cast<char>(state >> 24));
    }
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
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(sf_write_short(file, samples.data(), static_cast<sf_count_t>(samples.size())),
              static_cast<sf_count_t>(samples.size()));
    sf_close(file);
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
    if (recipe->second.garbledBytes > 0) {
        garbleMiddle(partial, recipe->second.garbledBytes);
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
