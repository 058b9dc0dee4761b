#include "audio/AudioFormatProbe.h"
#include "audio/AudioStreamFormat.h"
#include "tests/audio/AudioTestFiles.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <sndfile.h>

namespace ferrylantern {
namespace {

using test::generatedAudio;
using test::TemporaryFolder;

TEST(CaptionText, ShowsTheRateWithEitherTheBitDepthOrTheBitRate)
{
    struct Row
    {
        AudioStreamFormat format;
        std::optional<QString> text;
    };
    const Row rows[] = {
        {{44100, 16, 1411}, QString::fromUtf8("44.1 kHz · 16-bit")},
        {{48000, 24, 0}, QString::fromUtf8("48 kHz · 24-bit")},
        {{48000, 0, 320}, QString::fromUtf8("48 kHz · 320 kbps")},
        {{32000, 0, 0}, QStringLiteral("32 kHz")},
        {{22050, 0, 64}, QString::fromUtf8("22.1 kHz · 64 kbps")},
        {{11025, 8, 0}, QString::fromUtf8("11.0 kHz · 8-bit")},
        {{0, 16, 128}, std::nullopt},
        {{-44100, 0, 0}, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.format.sampleRateHz);
        EXPECT_EQ(captionText(row.format), row.text);
    }
}

TEST(AudioFileExtensions, DecideByTheLowerCasedExtensionOfTheLastComponent)
{
    EXPECT_EQ(audioFileExtensions.size(), 19u);
    const std::pair<const char*, bool> rows[] = {
        {"song.mp3", true},           {"SONG.WAV", true},   {"take.Flac", true},     {"voice.amr", true},
        {"clip.mp4", true},           {"notes.txt", false}, {"noextension", false},  {"archive.mp3.zip", false},
        {"folder.mp3/readme", false}, {".wav", true},       {"trailingdot.", false},
    };
    for (const auto& [name, audio] : rows) {
        SCOPED_TRACE(name);
        EXPECT_EQ(isAudioFileName(QString::fromUtf8(name)), audio);
    }
}

TEST(ProbeFormat, ReadsRateBitDepthAndBitRateOfEachKindOfFile)
{
    TemporaryFolder folder;
    const auto wav = folder.path() / "take.wav";
    test::writeWav(wav, 44100, 2, test::sineFrames(44100, 44100, {0.5, 0.5}));

    struct Row
    {
        const char* name;
        std::filesystem::path path;
        std::int64_t byteCount;
        int rate;
        int bitDepth;
        int bitrateKbps; // -1: any value above 0
    };
    const Row rows[] = {
        {"16-bit WAV: the track's bits and data rate", wav, 176444, 44100, 16, 1411},
        {"MP3: compressed, never a bit depth", generatedAudio("stereo-48k-320k.mp3"), 1, 48000, 0, 320},
        {"AAC in m4a: never a bit depth", generatedAudio("stereo-44k.m4a"), 1, 44100, 0, -1},
        {"ALAC in m4a: lossless, so a bit depth", generatedAudio("alac-44k.m4a"), 1, 44100, 16, 137},
        {"IMA ADPCM in WAV: 4 coded bits are no bit depth", generatedAudio("adpcm-ima-44k.wav"), 1, 44100, 0, 128},
        {"24-bit FLAC: bit depth, rate from the file size", generatedAudio("stereo-96k-24bit.flac"), 500000, 96000, 24,
         2000},
        {"Opus: rate from the file size", generatedAudio("stereo-48k.ogg"), 30000, 48000, 0, 120},
        {"no declared rate: 4,000,000 bytes over 100 s", generatedAudio("silence-100s.flac"), 4000000, 44100, 16, 320},
        {"no declared rate and no recorded size", generatedAudio("silence-100s.flac"), 0, 44100, 16, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto format = probeFormat(row.path, row.byteCount);
        ASSERT_TRUE(format);
        EXPECT_EQ(format->sampleRateHz, row.rate);
        EXPECT_EQ(format->bitDepth, row.bitDepth);
        if (row.bitrateKbps < 0) {
            EXPECT_GT(format->bitrateKbps, 0);
        } else {
            EXPECT_EQ(format->bitrateKbps, row.bitrateKbps);
        }
    }
}

// A MATLAB 5 sound file: libsndfile reads it, FFmpeg has no demuxer for it.
std::filesystem::path writeMatlabSound(const std::filesystem::path& path)
{
    SF_INFO info{};
    info.samplerate = 22050;
    info.channels = 1;
    info.format = SF_FORMAT_MAT5 | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    const std::vector<short> samples(2205, 1000);
    sf_write_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    return path;
}

TEST(ProbeFormat, FallsBackToTheAudioFileReaderWhenTheDecoderFindsNoTrack)
{
    TemporaryFolder folder;
    const auto path = writeMatlabSound(folder.path() / "sound.wav");
    EXPECT_EQ(probeFormat(path, 0), (AudioStreamFormat{22050, 16, 0}));
    // The fallback reports no bits for compressed streams.
    EXPECT_EQ(readFileFormatFallback(generatedAudio("stereo-48k-320k.mp3")), (FallbackFileFormat{48000, 0}));
}

TEST(ProbeFormat, GivesNothingForAFileNeitherReaderUnderstands)
{
    TemporaryFolder folder;
    const auto text = folder.path() / "notes.wav";
    test::writeTextFile(text, "not audio at all\n");
    EXPECT_FALSE(probeFormat(text, 17));
    EXPECT_FALSE(readFileFormatFallback(text));
    EXPECT_FALSE(probeFormat(folder.path() / "missing.mp3", 1000));
}

} // namespace
} // namespace ferrylantern
