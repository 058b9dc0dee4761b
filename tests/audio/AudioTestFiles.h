// Test audio, made when a test needs it: WAV files written by code into the test's own folder, and
// compressed files (MP3, AAC, FLAC, Opus) made once by the ffmpeg program into a cache folder of the
// build, shared by the test processes.
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

void writeTextFile(const std::filesystem::path& path, const std::string& text);

// A compressed test file, by name; made with ffmpeg on first use (each lasts 2 s unless named otherwise):
//   "stereo-48k-320k.mp3"    stereo MP3, 48 kHz, CBR 320 kbit/s
//   "stereo-44k.m4a"         stereo AAC in an MP4 container
//   "stereo-96k-24bit.flac"  stereo FLAC, 96 kHz, 24 bits
//   "stereo-48k.ogg"         stereo Opus in Ogg
//   "truncated.flac"         the first half of a 3-s FLAC file: decoding fails part way
//   "silence-100s.flac"      100 s of 16-bit stereo silence (no declared bit rate)
// Fails the calling test (and returns an empty path) when ffmpeg cannot make it.
std::filesystem::path generatedAudio(const std::string& name);

} // namespace ferrylantern::test
