#include "audio/AudioFormatProbe.h"
#include "audio/AudioStreamFormat.h"
#include "tests/audio/AudioTestFiles.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <fstream>

namespace ferrylantern {
namespace {

using test::generatedAudio;
using test::TemporaryFolder;

TEST(AudioFileExtensions, DecideByTheLowerCasedExtensionOfTheLastComponent)
{
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

TEST(ProbeFormat, FallsBackToTheAudioFileReaderWhenTheDecoderFindsNoTrackAndElseGivesNothing)
{
    TemporaryFolder folder;
    const auto path = writeMatlabSound(folder.path() / "sound.wav");
    EXPECT_EQ(probeFormat(path, 0), (AudioStreamFormat{22050, 16, 0}));
    // The fallback reports no bits for compressed streams.
    EXPECT_EQ(readFileFormatFallback(generatedAudio("stereo-48k-320k.mp3")), (FallbackFileFormat{48000, 0}));
    // Without a declared bit rate, it comes from the recorded size over the duration.
    const auto silence = generatedAudio("silence-100s.flac");
    EXPECT_EQ(probeFormat(silence, 4000000), (AudioStreamFormat{44100, 16, 320}));
    EXPECT_EQ(probeFormat(silence, 0), (AudioStreamFormat{44100, 16, 0}));

    const auto text = folder.path() / "notes.wav";
    std::ofstream(text) << "not audio at all\n";
    EXPECT_FALSE(probeFormat(text, 17));
    EXPECT_FALSE(readFileFormatFallback(text));
    EXPECT_FALSE(probeFormat(folder.path() / "missing.mp3", 1000));
}

} // namespace
} // namespace ferrylantern
