// The PIN rule, on text typed in pieces. Pieces are moved to character boundaries first, as a PIN field
// receives whole characters. The normalized PIN keeps at most four numeric characters, in order, and
// normalizing pieces one by one and then the joined results gives the PIN of the whole text.
#include "server/PINRules.h"
#include "server/UTF8.h"
#include "server/UnicodeNumeric.h"
#include "tests/fuzz/FuzzSupport.h"

#include <string>

using namespace ferrylantern;

namespace {

std::size_t scalarCount(std::string_view text)
{
    std::size_t count = 0;
    for (std::size_t offset = 0; offset < text.size(); ++count) {
        nextScalar(text, offset);
    }
    return count;
}

// Every scalar of `pin` is numeric and appears in `text` in the same order.
bool isNumericSubsequence(std::string_view pin, std::string_view text)
{
    std::size_t textOffset = 0;
    for (std::size_t offset = 0; offset < pin.size();) {
        const auto start = offset;
        const char32_t scalar = nextScalar(pin, offset);
        if (!isUnicodeNumeric(scalar)) {
            return false;
        }
        const auto found = text.find(pin.substr(start, offset - start), textOffset);
        if (found == std::string_view::npos) {
            return false;
        }
        textOffset = found + (offset - start);
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto input = fuzz::splitInput(data, size);
    const auto text = input.payload;
    const auto pin = normalizedPIN(text);
    FUZZ_CHECK(scalarCount(pin) <= 4);
    FUZZ_CHECK(isValidUTF8(pin));
    FUZZ_CHECK(isNumericSubsequence(pin, text));
    FUZZ_CHECK(normalizedPIN(pin) == pin);

    // Cut at scalar boundaries only, so each piece decodes as it does inside the whole text.
    std::string joined;
    std::size_t offset = 0;
    for (const auto piece : input.pieces) {
        auto end = offset + piece.size();
        std::size_t boundary = offset;
        while (boundary < end && boundary < text.size()) {
            nextScalar(text, boundary);
        }
        joined += normalizedPIN(text.substr(offset, boundary - offset));
        offset = boundary;
    }
    joined += normalizedPIN(text.substr(std::min(offset, text.size())));
    FUZZ_CHECK(normalizedPIN(joined) == pin);

    for (const bool enabled : {false, true}) {
        const PINSettings settings{.enabled = enabled, .code = std::string(text)};
        FUZZ_CHECK(isPINRequired(settings) == (enabled && scalarCount(pin) == 4));
    }
    return 0;
}
