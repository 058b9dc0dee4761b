// multipart/form-data as other clients send it: the first piece is the Content-Type value, the other
// pieces are the body as it arrives. The server parses the body as it arrives (MultipartFilePartStream);
// whatever the pieces, it must find what the whole-body parser finds in the whole body: the same part,
// file name and data bytes, or none. The body is fed in the input's pieces, cut at every byte around
// each delimiter (where a search carried across pieces would go wrong), and a byte at a time. Every
// prefix of the body is also parsed whole: a part found in a prefix must be the part of the whole body,
// so neither parser decides on bytes it has not seen.
#include "server/MultipartBody.h"
#include "server/MultipartFilePartStream.h"
#include "server/UnicodeWhitespace.h"
#include "tests/fuzz/FuzzSupport.h"

#include <optional>
#include <string>
#include <vector>

using namespace ferrylantern;

namespace {

void checkPart(const MultipartFilePart& part, std::string_view body, const std::string& boundary)
{
    FUZZ_CHECK(!part.data.empty());
    FUZZ_CHECK(part.data.data() >= body.data());
    FUZZ_CHECK(part.data.data() + part.data.size() <= body.data() + body.size());
    // The data ends at the first delimiter after it starts.
    FUZZ_CHECK(part.data.find("--" + std::string(trimWhitespaceAndNewlines(boundary))) == std::string_view::npos);
    if (part.fileName) {
        FUZZ_CHECK(!part.fileName->empty());
    }
}

// Feeds `body` to the streaming parser cut at `cuts` (ascending offsets) and checks it against `whole`.
void checkStreamed(std::string_view body, const std::string& boundary, const std::vector<std::size_t>& cuts,
                   const std::optional<MultipartFilePart>& whole)
{
    MultipartFilePartStream parser(boundary);
    std::string data;
    const auto sink = [&data](std::string_view piece) {
        FUZZ_CHECK(!piece.empty());
        data.append(piece);
        return std::error_code();
    };
    std::size_t from = 0;
    for (const auto cut : cuts) {
        FUZZ_CHECK(!parser.feed(body.substr(from, cut - from), sink));
        from = cut;
    }
    FUZZ_CHECK(!parser.feed(body.substr(from), sink));
    const auto& part = parser.filePart();
    FUZZ_CHECK(part.has_value() == whole.has_value());
    if (whole) {
        FUZZ_CHECK(part->fileName == whole->fileName);
        FUZZ_CHECK(part->byteCount == static_cast<std::int64_t>(whole->data.size()));
        FUZZ_CHECK(data == whole->data);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto input = fuzz::splitInput(data, size);
    const auto contentType = fuzz::pieceOrEmpty(input, 0);
    const auto boundary = multipartBoundary(contentType);
    if (!boundary) {
        return 0;
    }
    FUZZ_CHECK(trimWhitespaceAndNewlines(*boundary).size() == boundary->size());

    const auto bodyOffset = input.pieces.empty() ? 0 : input.pieces[0].size();
    const auto body = input.payload.substr(bodyOffset);
    const auto whole = firstMultipartFilePart(body, *boundary);
    if (whole) {
        checkPart(*whole, body, *boundary);
    }
    std::vector<std::size_t> pieceEdges;
    std::size_t cut = 0;
    for (std::size_t i = 1; i < input.pieces.size(); ++i) {
        cut += input.pieces[i].size();
        pieceEdges.push_back(cut);
        const auto prefix = body.substr(0, cut);
        if (const auto part = firstMultipartFilePart(prefix, *boundary)) {
            checkPart(*part, prefix, *boundary);
            FUZZ_CHECK(whole);
            FUZZ_CHECK(part->data.data() == whole->data.data() && part->data.size() == whole->data.size());
            FUZZ_CHECK(part->fileName == whole->fileName);
        }
    }
    checkStreamed(body, *boundary, pieceEdges, whole);

    // Every cut from two bytes before each delimiter (its line break) to two bytes after it, for the
    // first few delimiters; and a byte at a time for small bodies.
    const std::string delimiter = "--" + *boundary;
    constexpr int delimitersCut = 8;
    std::size_t at = body.find(delimiter);
    for (int found = 0; at != std::string_view::npos && found < delimitersCut; ++found) {
        const std::size_t first = at >= 2 ? at - 2 : 0;
        const std::size_t last = std::min(body.size(), at + delimiter.size() + 2);
        for (std::size_t edge = first; edge <= last; ++edge) {
            checkStreamed(body, *boundary, {edge}, whole);
        }
        at = body.find(delimiter, at + 1);
    }
    constexpr std::size_t byteAtATimeUpTo = 4096;
    if (body.size() <= byteAtATimeUpTo) {
        std::vector<std::size_t> everyByte;
        for (std::size_t edge = 1; edge < body.size(); ++edge) {
            everyByte.push_back(edge);
        }
        checkStreamed(body, *boundary, everyByte, whole);
    }
    return 0;
}
