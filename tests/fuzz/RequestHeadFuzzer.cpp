// The request head reader, fed the way a socket delivers bytes: in pieces whose sizes the input
// chooses. Whatever the split, the reader must decide exactly as it does for the same bytes in one
// piece, and a head it accepts must be what the router relies on.
#include "server/ASCIIText.h"
#include "server/RequestHead.h"
#include "server/ServerContext.h"
#include "server/UTF8.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace ferrylantern;

namespace {

bool isTrimmedOfSpacesAndTabs(std::string_view text)
{
    return trimSpacesAndTabs(text).size() == text.size();
}

void checkAcceptedHead(const RequestHead& head, std::string_view received)
{
    FUZZ_CHECK(!head.method.empty() && head.method.find(' ') == std::string::npos);
    FUZZ_CHECK(!head.target.empty() && head.target.find(' ') == std::string::npos);
    for (const auto& [name, value] : head.headers) {
        FUZZ_CHECK(name == asciiLowercased(name));
        FUZZ_CHECK(isTrimmedOfSpacesAndTabs(name) && isTrimmedOfSpacesAndTabs(value));
        FUZZ_CHECK(name.find(':') == std::string::npos);
        FUZZ_CHECK(name.find("\r\n") == std::string::npos && value.find("\r\n") == std::string::npos);
        FUZZ_CHECK(isValidUTF8(name) && isValidUTF8(value));
    }
    for (const auto& [name, value] : head.query) {
        FUZZ_CHECK(isValidUTF8(name) && isValidUTF8(value));
    }
    FUZZ_CHECK(head.contentLength >= 0 && head.contentLength <= maxContentLength);
    FUZZ_CHECK(parseContentLength(head.header("content-length").value_or("")) == head.contentLength);
    // The body prefix is exactly what followed the first blank line.
    const auto blankLine = received.find("\r\n\r\n");
    FUZZ_CHECK(blankLine != std::string_view::npos);
    FUZZ_CHECK(received.substr(blankLine + 4) == head.bodyPrefix);
    FUZZ_CHECK(!routePath(head.target).empty());
    if (const auto token = sessionToken(head)) {
        FUZZ_CHECK(!token->empty());
    }
}

bool sameHead(const RequestHead& a, const RequestHead& b)
{
    return a.method == b.method && a.target == b.target && a.query == b.query && a.headers == b.headers &&
           a.bodyPrefix == b.bodyPrefix && a.contentLength == b.contentLength;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto input = fuzz::splitInput(data, size);

    RequestHeadReader pieceByPiece;
    auto status = RequestHeadReader::Status::needMoreData;
    std::size_t fed = 0;
    for (const auto piece : input.pieces) {
        status = pieceByPiece.append(piece);
        fed += piece.size();
        if (status != RequestHeadReader::Status::needMoreData) {
            break;
        }
    }
    const auto received = input.payload.substr(0, fed);
    RequestHeadReader inOnePiece;
    FUZZ_CHECK(inOnePiece.append(received) == status);
    if (status == RequestHeadReader::Status::complete) {
        const auto head = pieceByPiece.takeHead();
        FUZZ_CHECK(sameHead(head, inOnePiece.takeHead()));
        checkAcceptedHead(head, received);
    }

    if (const auto length = parseContentLength(input.payload)) {
        FUZZ_CHECK(*length >= 0 && *length <= maxContentLength);
    }
    return 0;
}
