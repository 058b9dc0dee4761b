// The stream format shown under a received audio file ("44.1 kHz · 16-bit", "48 kHz · 320 kbps"), and
// the rule that decides which file names count as audio.
//
// Pure functions and constants; thread-safe.
#pragma once

#include <QString>

#include <array>
#include <optional>
#include <string_view>

namespace ferrylantern {

struct AudioStreamFormat
{
    int sampleRateHz = 0; // rounded to a whole number; ≥ 1 in a stored format
    int bitDepth = 0;     // bits per sample of an uncompressed stream; 0 when not reported
    int bitrateKbps = 0;  // kilobits (1000 bit) per second; 0 when unknown

    friend bool operator==(const AudioStreamFormat&, const AudioStreamFormat&) = default;
};

// The lower-case file name extensions that count as audio.
inline constexpr std::array<std::string_view, 19> audioFileExtensions{
    "mp3", "m4a",  "m4b", "m4p", "m4r",  "aac", "wav", "wave", "aif", "aiff",
    "caf", "flac", "ogg", "oga", "opus", "wma", "amr", "3gp",  "mp4"};

// The lower-cased text after the last dot of the last path component; empty when there is none.
QString lowercasedExtension(const QString& fileNameOrPath);

// Whether the lower-cased extension of `fileName` is one of audioFileExtensions.
bool isAudioFileName(const QString& fileName);

// The caption: the sample rate in kHz ("48 kHz", or one decimal when not a whole number of kHz), then
// " · 24-bit" when there is a bit depth, else " · 320 kbps" when there is a bit rate. Nothing when the
// sample rate is below 1.
std::optional<QString> captionText(const AudioStreamFormat& format);

} // namespace ferrylantern
