#include "server/UTF8.h"

#include <array>
#include <optional>

namespace ferrylantern {

namespace {

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

} // namespace

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

} // namespace ferrylantern
