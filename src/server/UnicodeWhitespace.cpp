#include "server/UnicodeWhitespace.h"

#include "server/UTF8.h"

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

} // namespace

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

} // namespace ferrylantern
