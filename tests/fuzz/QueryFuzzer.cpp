// The query parser and the route path, on request targets built from the input's pieces: the first
// piece is the path, the others are the query's parameters joined by "&".
#include "server/RequestHead.h"
#include "server/UTF8.h"
#include "tests/fuzz/FuzzSupport.h"

#include <string>

using namespace ferrylantern;

namespace {

void checkTarget(const std::string& target)
{
    const auto query = parseQuery(target);
    const bool absolute = target.starts_with("http://") || target.starts_with("https://");
    if (isValidUTF8(target)) {
        // Percent-decoding never produces text that is not UTF-8; it falls back to the raw text.
        for (const auto& [name, value] : query) {
            FUZZ_CHECK(isValidUTF8(name) && isValidUTF8(value));
        }
    }
    if (!absolute) {
        FUZZ_CHECK(query.empty() || target.find('?') != std::string::npos);
        for (const auto& [name, value] : query) {
            FUZZ_CHECK(name.find('&') == std::string::npos && name.find('=') == std::string::npos);
        }
        // A later parameter of the same name replaces an earlier one.
        if (!query.empty()) {
            const auto& name = query.begin()->first;
            if (!name.empty()) {
                const auto replaced = parseQuery(target + "&" + name + "=later");
                FUZZ_CHECK(replaced.at(name) == "later");
            }
        }
    }
    const auto path = routePath(target);
    FUZZ_CHECK(!path.empty());
    if (absolute) {
        FUZZ_CHECK(path.front() == '/');
    } else {
        FUZZ_CHECK(path == "/" || target.starts_with(path));
        FUZZ_CHECK(path.find('?') == std::string::npos);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto input = fuzz::splitInput(data, size);
    checkTarget(std::string(input.payload));

    const auto query = input.pieces.size() > 1 ? "?" + fuzz::joinedPieces(input, 1, "&") : "";
    checkTarget(std::string(fuzz::pieceOrEmpty(input, 0)) + query);
    return 0;
}
