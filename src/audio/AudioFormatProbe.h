// Reads the stream format of an audio file for its caption: the sample rate, the bit depth of an
// uncompressed stream, and the bit rate (the track's own, else the file's average).
//
// Pure functions that read only the given file; thread-safe. The loader runs them on its pool threads.
#pragma once

#include "audio/AudioStreamFormat.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace ferrylantern {

// Sample rate and bit depth as a plain audio-file reader (libsndfile) sees the file.
struct FallbackFileFormat
{
    int sampleRateHz = 0;
    int bitDepth = 0;

    friend bool operator==(const FallbackFileFormat&, const FallbackFileFormat&) = default;
};

// The format of `path`, whose size the receiver recorded as `fileByteCount`; nothing when neither the
// media decoder nor the audio-file reader finds a sample rate of at least 1 Hz.
//
// The bit depth is that of PCM and lossless streams only: 0 for every lossy codec (MPEG audio, AAC, Opus,
// ADPCM, μ-law...), whatever the file is called. The bit rate is the track's declared rate, else the file
// size × 8 over the duration.
std::optional<AudioStreamFormat> probeFormat(const std::filesystem::path& path, std::int64_t fileByteCount);

// Sample rate (rounded, > 0) and bit depth (0 for lossy formats) from libsndfile; nothing when it cannot
// read the file.
std::optional<FallbackFileFormat> readFileFormatFallback(const std::filesystem::path& path);

} // namespace ferrylantern
