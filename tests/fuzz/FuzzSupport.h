// What the fuzz targets share: a check that survives release builds, and the rule that turns one fuzz
// input into a payload and the pieces it is fed in.
//
// A target is one LLVMFuzzerTestOneInput. In the fuzzing build (clang, FERRYLANTERN_FUZZ=ON) libFuzzer
// drives it; in every other build ReplayMain.cpp feeds it the committed corpus, so CI replays every
// input without libFuzzer.
#pragma once

#include "server/UploadNaming.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

// Aborts with the condition that failed, so libFuzzer keeps the input as a crash and the corpus replay
// fails. Not assert(): the release builds define NDEBUG.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition);                     \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace ferrylantern::fuzz {

// One fuzz input read as a payload and the pieces it arrives in. Byte 0 says how many pieces have a
// size of their own; their sizes are 16-bit little-endian numbers at the end of the input, and the
// bytes between are the payload. The payload is cut into pieces of those sizes, in order, and whatever
// the sizes leave over is one last piece. So the input chooses every split, empty pieces included, and
// an input that starts with byte 0 is its payload as one piece:
//
//   "\x00GET / HTTP/1.1\r\n\r\n"                       one piece
//   "\x02GET / HTTP/1.1\r\n\r\n\x03\x00\x00\x00"       "GET", "", and the rest
struct PiecedInput
{
    std::string_view payload;
    std::vector<std::string_view> pieces;
};

inline PiecedInput splitInput(const std::uint8_t* data, std::size_t size)
{
    PiecedInput input;
    if (size == 0) {
        return input;
    }
    const char* bytes = reinterpret_cast<const char*>(data);
    const std::size_t sizedPieces = std::min<std::size_t>(data[0], (size - 1) / 2);
    input.payload = std::string_view(bytes + 1, size - 1 - 2 * sizedPieces);
    const std::uint8_t* sizes = data + size - 2 * sizedPieces;
    std::string_view rest = input.payload;
    for (std::size_t i = 0; i < sizedPieces; ++i) {
        const std::size_t wanted = sizes[2 * i] | std::size_t{sizes[2 * i + 1]} << 8;
        const std::size_t length = std::min(wanted, rest.size());
        input.pieces.push_back(rest.substr(0, length));
        rest.remove_prefix(length);
    }
    if (!rest.empty()) {
        input.pieces.push_back(rest);
    }
    return input;
}

// The i-th piece, or an empty text when the input has fewer pieces.
inline std::string_view pieceOrEmpty(const PiecedInput& input, std::size_t i)
{
    return i < input.pieces.size() ? input.pieces[i] : std::string_view();
}

// The pieces from the `first` on, joined by `separator`.
inline std::string joinedPieces(const PiecedInput& input, std::size_t first, std::string_view separator = "")
{
    std::string joined;
    for (std::size_t i = first; i < input.pieces.size(); ++i) {
        joined += i == first ? "" : separator;
        joined += input.pieces[i];
    }
    return joined;
}

// A name the server can create inside its folder and nowhere else: not empty, ".", "..", no "/", "\\"
// or NUL, at most 255 bytes.
inline bool isUsableFileName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.size() <= maxFileNameBytes &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

// The name a file gets whose requested name left nothing usable: "upload-" and a UUID.
inline bool isFreshUploadName(std::string_view name)
{
    return name.starts_with("upload-") && name.size() == 7 + 36;
}

// Every byte as a percent escape, with the hex `digits` given (upper or lower case).
inline std::string percentEncoded(std::string_view bytes, const char* digits = "0123456789ABCDEF")
{
    std::string encoded;
    for (const char c : bytes) {
        encoded += '%';
        encoded += digits[static_cast<unsigned char>(c) >> 4];
        encoded += digits[static_cast<unsigned char>(c) & 0xF];
    }
    return encoded;
}

} // namespace ferrylantern::fuzz
