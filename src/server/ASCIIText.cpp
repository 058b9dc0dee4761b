#include "server/ASCIIText.h"

namespace ferrylantern {

std::string_view trimSpacesAndTabs(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
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

} // namespace ferrylantern
