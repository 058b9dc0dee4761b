// The text helpers every parser stands on: trimming, UTF-8, percent-decoding, decimal integers and the
// character counting that keeps names within their limits; the rules of texts sent between phone and
// desktop; and the Range field of a download (the text as the field, the byte limit as the file size).
// Pieces: the text, then a byte and a character limit.
#include "server/ASCIIText.h"
#include "server/ByteRange.h"
#include "server/DecimalInteger.h"
#include "server/PercentDecoding.h"
#include "server/TextRules.h"
#include "server/UTF8.h"
#include "server/UnicodeWhitespace.h"
#include "server/UserPerceivedCharacters.h"
#include "tests/fuzz/FuzzSupport.h"

#include <charconv>
#include <string>

using namespace ferrylantern;

namespace {

void checkTrimming(std::string_view text)
{
    const auto trimmed = trimWhitespaceAndNewlines(text);
    FUZZ_CHECK(trimmed.empty() ||
               (trimmed.data() >= text.data() && trimmed.data() + trimmed.size() <= text.data() + text.size()));
    // Trimming again removes nothing: no white space is left at either end.
    FUZZ_CHECK(trimWhitespaceAndNewlines(trimmed) == trimmed);
    const auto httpTrimmed = trimSpacesAndTabs(text);
    FUZZ_CHECK(trimSpacesAndTabs(httpTrimmed) == httpTrimmed);
    FUZZ_CHECK(httpTrimmed.empty() || (httpTrimmed.front() != ' ' && httpTrimmed.back() != '\t' &&
                                       httpTrimmed.front() != '\t' && httpTrimmed.back() != ' '));
}

void checkPercentDecoding(std::string_view text)
{
    if (const auto decoded = percentDecoded(text)) {
        FUZZ_CHECK(isValidUTF8(*decoded));
        FUZZ_CHECK(decoded->size() <= text.size());
    }
    // Encoding every byte and decoding gives the text back exactly when it is UTF-8.
    const auto roundTrip = percentDecoded(fuzz::percentEncoded(text, "0123456789abcdef"));
    FUZZ_CHECK(roundTrip.has_value() == isValidUTF8(text));
    FUZZ_CHECK(!roundTrip || *roundTrip == text);
}

void checkDecimal(std::string_view text)
{
    const auto parsed = parseDecimalInteger(text);
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
        if (!digits.empty() && digits.front() == '-') {
            FUZZ_CHECK(!parsed);
            return;
        }
    }
    std::int64_t reference = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), reference);
    const bool referenceParsed = error == std::errc() && end == digits.data() + digits.size() && !digits.empty() &&
                                 !(digits.front() == '-' && digits.size() == 1);
    FUZZ_CHECK(parsed.has_value() == referenceParsed);
    FUZZ_CHECK(!parsed || *parsed == reference);
}

void checkCharacterLimits(std::string_view text, std::size_t maxBytes, std::size_t maxCharacters)
{
    const auto count = characterCount(text);
    FUZZ_CHECK(count <= text.size());
    FUZZ_CHECK(prefixLengthInCharacters(text, count) == text.size());
    const auto byCharacters = prefixLengthInCharacters(text, maxCharacters);
    FUZZ_CHECK(byCharacters <= text.size());
    FUZZ_CHECK(characterCount(text.substr(0, byCharacters)) == std::min(count, maxCharacters));
    const auto byBytes = prefixLengthWithinBytes(text, maxBytes);
    FUZZ_CHECK(byBytes <= maxBytes && byBytes <= text.size());
    // Never a cut inside a character: the prefix is whole characters of the text.
    const auto prefixCount = characterCount(text.substr(0, byBytes));
    FUZZ_CHECK(prefixLengthInCharacters(text, prefixCount) == byBytes);
    if (isValidUTF8(text)) {
        FUZZ_CHECK(isValidUTF8(text.substr(0, byBytes)) && isValidUTF8(text.substr(0, byCharacters)));
    }
}

void checkTextRules(std::string_view text, std::size_t maxCharacters)
{
    const auto problem = textProblem(text);
    FUZZ_CHECK(problem != TextProblem::tooLong || text.size() > maxTextBytes);
    FUZZ_CHECK(problem != TextProblem::notUTF8 || !isValidUTF8(text));
    const auto preview = textPreview(text, maxCharacters);
    FUZZ_CHECK(isValidUTF8(preview));
    FUZZ_CHECK(preview.find('\n') == std::string::npos);
}

// Whatever the field, the bytes to send lie within the file, and a part is a part of it.
void checkRange(std::string_view field, std::int64_t size)
{
    const auto answer = answerRange(field, size);
    FUZZ_CHECK(answer.range.first >= 0 && answer.range.last < size && answer.range.length() >= 0);
    FUZZ_CHECK(answer.outcome == RangeOutcome::part || answer.range == (ByteRange{0, size - 1}));
    FUZZ_CHECK(answer.outcome != RangeOutcome::part || answer.range.length() >= 1);
    FUZZ_CHECK(size > 0 || answer.outcome == RangeOutcome::whole);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto input = fuzz::splitInput(data, size);
    const auto text = fuzz::pieceOrEmpty(input, 0);
    const auto limits = fuzz::pieceOrEmpty(input, 1);
    const std::size_t maxBytes = limits.empty() ? 255 : static_cast<unsigned char>(limits[0]);
    const std::size_t maxCharacters = limits.size() < 2 ? 64 : static_cast<unsigned char>(limits[1]);

    checkTrimming(input.payload);
    checkPercentDecoding(text);
    checkDecimal(text);
    checkCharacterLimits(input.payload, maxBytes, maxCharacters);
    checkTextRules(input.payload, maxCharacters);
    checkRange(text, static_cast<std::int64_t>(maxBytes));
    FUZZ_CHECK(asciiLowercased(text).size() == text.size());
    FUZZ_CHECK(startsWithIgnoringASCIICase(text, asciiUppercased(text)));
    return 0;
}
