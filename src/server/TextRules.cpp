#include "server/TextRules.h"

#include "server/UTF8.h"
#include "server/UnicodeWhitespace.h"
#include "server/UploadNaming.h"
#include "server/UserPerceivedCharacters.h"

namespace ferrylantern {

std::optional<TextProblem> textProblem(std::string_view text)
{
    if (text.size() > maxTextBytes) {
        return TextProblem::tooLong;
    }
    if (!isValidUTF8(text)) {
        return TextProblem::notUTF8;
    }
    if (trimWhitespaceAndNewlines(text).empty()) {
        return TextProblem::empty;
    }
    return std::nullopt;
}

std::string textPreview(std::string_view text, std::size_t maxCharacters)
{
    std::string_view rest = text;
    std::string_view line;
    while (line.empty() && !rest.empty()) {
        const auto end = rest.find('\n');
        line = trimWhitespaceAndNewlines(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    }
    const auto cut = prefixLengthInCharacters(line, maxCharacters);
    std::string preview = shownFileName(line.substr(0, cut));
    if (cut < line.size()) {
        preview += "…";
    }
    return preview;
}

} // namespace ferrylantern
