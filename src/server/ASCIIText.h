// ASCII-only text operations for the protocol's own tokens: header field names and values, methods,
// media types. They never touch a byte outside ASCII, so they are safe on any input.
#pragma once

#include <string>
#include <string_view>

namespace ferrylantern {

// Removes leading and trailing ASCII spaces and tabs (the trimming HTTP header fields get).
std::string_view trimSpacesAndTabs(std::string_view text);

std::string asciiLowercased(std::string_view text);
std::string asciiUppercased(std::string_view text);
bool startsWithIgnoringASCIICase(std::string_view text, std::string_view prefix);

} // namespace ferrylantern
