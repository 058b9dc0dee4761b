// multipart/form-data as other clients send it: the first piece is the Content-Type value, the other
// pieces are the body as it arrives. The body is parsed whole, as the server does once it has read
// it, and also cut after every piece: a cut body may hold no part yet, but a part found in it must be
// the part of the whole body, so the parser never decides on bytes it has not seen.
#include "server/MultipartBody.h"
#include "server/UnicodeWhitespace.h"
#include "tests/fuzz/FuzzSupport.h"

#include <optional>
#include <string>

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
    std::size_t cut = 0;
    for (std::size_t i = 1; i < input.pieces.size(); ++i) {
        cut += input.pieces[i].size();
        const auto prefix = body.substr(0, cut);
        if (const auto part = firstMultipartFilePart(prefix, *boundary)) {
            checkPart(*part, prefix, *boundary);
            FUZZ_CHECK(whole);
            FUZZ_CHECK(part->data.data() == whole->data.data() && part->data.size() == whole->data.size());
            FUZZ_CHECK(part->fileName == whole->fileName);
        }
    }
    return 0;
}
