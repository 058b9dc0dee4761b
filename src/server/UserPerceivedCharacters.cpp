#include "server/UserPerceivedCharacters.h"

#include "server/UTF8.h"

namespace ferrylantern {

namespace {

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
