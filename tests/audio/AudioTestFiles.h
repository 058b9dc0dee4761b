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

void writeTextFile(const std::filesystem::path& path, const std::string& text);

// A test file made with ffmpeg, by name, on first use (each lasts 2 s unless named otherwise):
//   "stereo-44k-s16.wav"     16-bit PCM WAV, 44.1 kHz
//   "stereo-48k-s24.wav"     24-bit PCM WAV, 48 kHz
//   "mono-22k.wav"           16-bit mono PCM WAV, 22.05 kHz
//   "surround-full-scale.wav" 5.1 WAV, 48 kHz, every channel a full-scale tone in phase
//   "stereo-48k-320k.mp3"    stereo MP3, 48 kHz, CBR 320 kbit/s
//   "vbr-xing.mp3"           3 s of VBR MP3 with its frame count in a Xing header: 0.3 s of loud noise, then
//                            a quiet tone
//   "vbr-no-xing.mp3"        the same without the Xing header: its length is only estimated, too short
//   "stereo-44k.m4a"         stereo AAC in an MP4 container
//   "stereo-96k-24bit.flac"  stereo FLAC, 96 kHz, 24 bits
//   "stereo-48k.ogg"         stereo Opus in Ogg
//   "alac-44k.m4a"           stereo ALAC (lossless, 16 bits) in an MP4 container
//   "adpcm-ima-44k.wav"      stereo IMA ADPCM in WAV (4 bits coded per sample, lossy)
//   "truncated.flac"         the first half of a 3-s FLAC file: decoding fails part way
//   "truncated.mp3"          the first quarter of an 8-s CBR MP3 whose header states 8 s
//   "garbage-middle.mp3"     a 4-s CBR MP3 with 1500 bytes of noise over its middle
//   "silence-100s.flac"      100 s of 16-bit stereo silence (no declared bit rate)
// Fails the calling test (and returns an empty path) when ffmpeg cannot make it.
std::filesystem::path generatedAudio(const std::string& name);

} // namespace ferrylantern::test
