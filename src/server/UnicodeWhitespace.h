// Trimming in the Unicode sense, for names that people type: file names, device names, tokens.
#pragma once

#include <string_view>

namespace ferrylantern {

// Removes leading and trailing white space and line breaks in the Unicode sense: tab, line feed,
// vertical tab, form feed, carriage return, U+0085 and the space, line and paragraph separators
// (U+00A0, U+3000, U+2028 and so on). Invalid UTF-8 is left in place.
std::string_view trimWhitespaceAndNewlines(std::string_view text);

} // namespace ferrylantern
