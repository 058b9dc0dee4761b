// The upload page that the transfer server sends to a phone's browser: one self-contained document
// (markup, styles and script) with the receiving computer's name filled in.
#pragma once

#include <string>
#include <string_view>

namespace ferrylantern {

// The complete page for `deviceName`, as UTF-8. The name is HTML-escaped ("&", "<", ">" and the
// double quote) wherever it appears, and inside the script's string literal it is escaped for
// JavaScript as well, so any name shows literally and runs no code.
std::string uploadPageHTML(std::string_view deviceName);

// "&" by "&amp;" (first), then "<", ">" and the double quote by their entities.
std::string htmlEscaped(std::string_view text);

// Escapes text for a single- or double-quoted JavaScript string literal inside an HTML script
// element: backslash, both quotes, line terminators (including U+2028 and U+2029) and "<" become
// escape sequences.
std::string javaScriptStringEscaped(std::string_view text);

} // namespace ferrylantern
