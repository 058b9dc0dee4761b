#include "server/UnsafeCharacters.h"

#include "server/UTF8.h"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>

namespace ferrylantern {

namespace {

constexpr std::string_view replacement = "_";
constexpr char32_t zeroWidthNonJoiner = 0x200C;
constexpr char32_t zeroWidthJoiner = 0x200D;
constexpr char32_t firstTag = 0xE0020;
constexpr char32_t lastTag = 0xE007F;

void appendUTF8(std::string& text, char32_t scalar)
{
    utf8proc_uint8_t bytes[4];
    const auto length = utf8proc_encode_char(static_cast<utf8proc_int32_t>(scalar), bytes);
    text.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
}

// NFC of well-formed UTF-8; the text itself when the library refuses it (it cannot, for valid input).
std::string composed(const std::string& text)
{
    utf8proc_uint8_t* mapped = nullptr;
    const auto length =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()), static_cast<utf8proc_ssize_t>(text.size()),
                     &mapped, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(mapped, &std::free);
    if (length < 0) {
        return text;
    }
    return {reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(length)};
}

} // namespace

bool isUnsafeCharacter(char32_t scalar)
{
    if (scalar == zeroWidthJoiner || scalar == zeroWidthNonJoiner || (scalar >= firstTag && scalar <= lastTag)) {
        return false;
    }
    switch (utf8proc_category(static_cast<utf8proc_int32_t>(scalar))) {
    case UTF8PROC_CATEGORY_CC: // C0, DEL, C1
    case UTF8PROC_CATEGORY_CF: // bidirectional controls, zero-width space, BOM, soft hyphen, …
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
        return true;
    default:
        return false;
    }
}

std::string withUnsafeCharactersReplaced(std::string_view text)
{
    std::string safe;
    safe.reserve(text.size());
    std::size_t offset = 0;
    while (offset < text.size()) {
        const std::size_t start = offset;
        const char32_t scalar = nextScalar(text, offset);
        // nextScalar() gives U+FFFD for a byte that starts no well-formed sequence; a U+FFFD that was
        // really sent takes three bytes and is kept.
        const bool malformed = scalar == 0xFFFD && offset - start == 1;
        if (malformed || isUnsafeCharacter(scalar)) {
            safe.append(replacement);
        } else {
            appendUTF8(safe, scalar);
        }
    }
    return composed(safe);
}

} // namespace ferrylantern
