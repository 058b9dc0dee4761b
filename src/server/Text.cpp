#include "server/Text.h"

#include <array>
#include <limits>

namespace ferrylantern {

namespace {

bool isWhitespaceOrNewline(char32_t scalar)
{
    switch (scalar) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return scalar >= 0x2000 && scalar <= 0x200A;
    }
}

// Length of the UTF-8 sequence announced by a lead byte, 0 for a byte that cannot start one.
int sequenceLength(unsigned char lead)
{
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

// Decodes one well-formed scalar (RFC 3629: no overlong forms, no surrogates, at most U+10FFFF), or
// returns nullopt.
std::optional<char32_t> decodeScalar(std::string_view text, std::size_t offset, int& length)
{
    const auto lead = static_cast<unsigned char>(text[offset]);
    length = sequenceLength(lead);
    if (length == 0 || offset + static_cast<std::size_t>(length) > text.size()) {
        return std::nullopt;
    }
    if (length == 1) {
        return lead;
    }
    char32_t scalar = lead & (0xFF >> (length + 1));
    for (int i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[offset + static_cast<std::size_t>(i)]);
        if ((next & 0xC0) != 0x80) {
            return std::nullopt;
        }
        scalar = (scalar << 6) | (next & 0x3F);
    }
    constexpr std::array<char32_t, 5> smallestForLength{0, 0, 0x80, 0x800, 0x10000};
    if (scalar < smallestForLength[static_cast<std::size_t>(length)] || scalar > 0x10FFFF ||
        (scalar >= 0xD800 && scalar <= 0xDFFF)) {
        return std::nullopt;
    }
    return scalar;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool extendsPreviousCharacter(char32_t scalar)
{
    return (scalar >= 0x0300 && scalar <= 0x036F)       // combining diacritical marks
           || (scalar >= 0x0483 && scalar <= 0x0489)    // Cyrillic combining marks
           || (scalar >= 0x0591 && scalar <= 0x05BD)    // Hebrew points
           || (scalar >= 0x064B && scalar <= 0x065F)    // Arabic harakat
           || (scalar >= 0x0E31 && scalar <= 0x0E3A)    // Thai vowels and tone marks
           || (scalar >= 0x0E47 && scalar <= 0x0E4E)    //
           || (scalar >= 0x1AB0 && scalar <= 0x1AFF)    // combining diacritical marks extended
           || (scalar >= 0x1DC0 && scalar <= 0x1DFF)    // combining diacritical marks supplement
           || scalar == 0x200C || scalar == 0x200D      // zero-width non-joiner and joiner
           || (scalar >= 0x20D0 && scalar <= 0x20FF)    // combining marks for symbols
           || (scalar >= 0x3099 && scalar <= 0x309A)    // kana voiced sound marks
           || (scalar >= 0xFE00 && scalar <= 0xFE0F)    // variation selectors
           || (scalar >= 0xFE20 && scalar <= 0xFE2F)    // combining half marks
           || (scalar >= 0x1F3FB && scalar <= 0x1F3FF)  // emoji skin tone modifiers
           || (scalar >= 0xE0020 && scalar <= 0xE007F)  // tags
           || (scalar >= 0xE0100 && scalar <= 0xE01EF); // variation selectors supplement
}

bool isRegionalIndicator(char32_t scalar)
{
    return scalar >= 0x1F1E6 && scalar <= 0x1F1FF;
}

// Walks user-perceived characters; calls visit(byteOffsetAfterCharacter) for each and stops when it
// returns false.
template <typename Visit>
void forEachCharacter(std::string_view text, Visit visit)
{
    std::size_t offset = 0;
    while (offset < text.size()) {
        const char32_t first = nextScalar(text, offset);
        bool joinNext = false;
        bool pairedRegionalIndicator = false;
        while (offset < text.size()) {
            std::size_t lookahead = offset;
            const char32_t next = nextScalar(text, lookahead);
            if (first == '\r') {
                if (next == '\n') {
                    offset = lookahead;
                }
                break;
            }
            const bool pairsRegionalIndicators =
                isRegionalIndicator(first) && isRegionalIndicator(next) && !pairedRegionalIndicator;
            if (!joinNext && !extendsPreviousCharacter(next) && !pairsRegionalIndicators) {
                break;
            }
            pairedRegionalIndicator = pairedRegionalIndicator || pairsRegionalIndicators;
            joinNext = next == 0x200D;
            offset = lookahead;
        }
        if (!visit(offset)) {
            return;
        }
    }
}

} // namespace

std::string_view trimSpacesAndTabs(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string_view trimWhitespaceAndNewlines(std::string_view text)
{
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t next = begin;
        const char32_t scalar = nextScalar(text, next);
        if (!isWhitespaceOrNewline(scalar)) {
            break;
        }
        begin = next;
    }
    // Walk forward remembering where the last non-space scalar ends; UTF-8 cannot be read backwards
    // safely when it may be invalid.
    std::size_t end = begin;
    std::size_t offset = begin;
    while (offset < text.size()) {
        std::size_t next = offset;
        const char32_t scalar = nextScalar(text, next);
        if (!isWhitespaceOrNewline(scalar)) {
            end = next;
        }
        offset = next;
    }
    return text.substr(begin, end - begin);
}

bool isValidUTF8(std::string_view text)
{
    std::size_t offset = 0;
    while (offset < text.size()) {
        int length = 0;
        if (!decodeScalar(text, offset, length)) {
            return false;
        }
        offset += static_cast<std::size_t>(length);
    }
    return true;
}

std::string validUTF8Text(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    std::size_t offset = 0;
    while (offset < text.size()) {
        int length = 0;
        if (decodeScalar(text, offset, length)) {
            result.append(text.substr(offset, static_cast<std::size_t>(length)));
            offset += static_cast<std::size_t>(length);
        } else {
            result.append("\uFFFD");
            offset += 1;
        }
    }
    return result;
}

char32_t nextScalar(std::string_view text, std::size_t& offset)
{
    int length = 0;
    if (const auto scalar = decodeScalar(text, offset, length)) {
        offset += static_cast<std::size_t>(length);
        return *scalar;
    }
    offset += 1;
    return 0xFFFD;
}

std::string asciiLowercased(std::string_view text)
{
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return result;
}

std::string asciiUppercased(std::string_view text)
{
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return result;
}

bool startsWithIgnoringASCIICase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && asciiLowercased(text.substr(0, prefix.size())) == asciiLowercased(prefix);
}

std::optional<std::string> percentDecoded(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            result.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        result.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    if (!isValidUTF8(result)) {
        return std::nullopt;
    }
    return result;
}

std::optional<std::int64_t> parseDecimalInteger(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    // Accumulate negatively so that INT64_MIN parses without overflow.
    std::int64_t value = 0;
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const int digit = c - '0';
        if (value < (lowest + digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == lowest) {
            return std::nullopt;
        }
        value = -value;
    }
    return value;
}

std::size_t prefixLengthInCharacters(std::string_view text, std::size_t maxCharacters)
{
    std::size_t counted = 0;
    std::size_t length = 0;
    if (maxCharacters == 0) {
        return 0;
    }
    forEachCharacter(text, [&](std::size_t end) {
        length = end;
        return ++counted < maxCharacters;
    });
    return length;
}

std::size_t prefixLengthWithinBytes(std::string_view text, std::size_t maxBytes)
{
    std::size_t length = 0;
    forEachCharacter(text, [&](std::size_t end) {
        if (end > maxBytes) {
            return false;
        }
        length = end;
        return true;
    });
    return length;
}

std::size_t characterCount(std::string_view text)
{
    std::size_t counted = 0;
    forEachCharacter(text, [&](std::size_t) {
        ++counted;
        return true;
    });
    return counted;
}

} // namespace ferrylantern
