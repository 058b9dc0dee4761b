// Test audio, made when a test needs it: WAV files written by code into the test's own folder, and
// files of every kind the preview must read (PCM, MP3, AAC, FLAC, Opus, ALAC, ADPCM, damaged ones) made
// once by the ffmpeg program into a cache folder of the build, shared by the test processes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ferrylantern::test {

// Interleaved 16-bit samples of `frames` frames: a sine of `frequency` Hz per channel, with channel c at
// `amplitudes[c]` of full scale (0 makes the channel silent).
std::vector<std::int16_t> sineFrames(std::int64_t frames, int sampleRate, const std::vector<double>& amplitudes,
                                     double frequency = 440.0);

// A canonical 16-bit PCM WAV file.
void writeWav(const std::filesystem::path& path, int sampleRate, int channels,
              const std::vector<std::int16_t>& samples);

// A test file made with ffmpeg on first use, by its name in the table of recipes in AudioTestFiles.cpp,
// which says what each holds. Fails the calling test (and returns an empty path) when ffmpeg cannot make it.
std::filesystem::path generatedAudio(const std::string& name);

} // namespace ferrylantern::test
