#include "server/PINRules.h"

#include "server/UTF8.h"
#include "server/UnicodeNumeric.h"
#include "server/UserPerceivedCharacters.h"

namespace ferrylantern {

namespace {

constexpr std::size_t pinLength = 4;

} // namespace

std::string normalizedPIN(std::string_view text)
{
    std::string result;
    std::size_t kept = 0;
    std::size_t offset = 0;
    while (offset < text.size() && kept < pinLength) {
        const std::size_t start = offset;
        if (isUnicodeNumeric(nextScalar(text, offset))) {
            result.append(text.substr(start, offset - start));
            ++kept;
        }
    }
    return result;
}

bool isPINRequired(const PINSettings& settings)
{
    return settings.enabled && characterCount(normalizedPIN(settings.code)) == pinLength;
}

} // namespace ferrylantern
