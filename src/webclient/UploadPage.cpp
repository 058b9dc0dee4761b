#include "UploadPage.h"

#include "UploadPageResource.h"

namespace ferrylantern {

namespace {

// The page resource marks the places of the name; the marker inside the script's string literal is
// distinct because that place needs JavaScript escaping on top of HTML escaping.
constexpr std::string_view nameMarker = "{{DEVICE_NAME}}";
constexpr std::string_view nameInScriptMarker = "{{DEVICE_NAME_IN_SCRIPT}}";

void replaceAll(std::string& text, std::string_view marker, std::string_view replacement)
{
    for (auto at = text.find(marker); at != std::string::npos; at = text.find(marker, at + replacement.size())) {
        text.replace(at, marker.size(), replacement);
    }
}

} // namespace

std::string htmlEscaped(std::string_view text)
{
    std::string escaped(text);
    replaceAll(escaped, "&", "&amp;");
    replaceAll(escaped, "<", "&lt;");
    replaceAll(escaped, ">", "&gt;");
    replaceAll(escaped, "\"", "&quot;");
    return escaped;
}

std::string javaScriptStringEscaped(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\'':
            escaped += "\\'";
            break;
        case '"':
            escaped += "\\\"";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\r':
            escaped += "\\r";
            break;
        case '<':
            escaped += "\\x3C";
            break;
        default:
            // U+2028 and U+2029 end a line inside a string literal in older engines.
            if (text.substr(i, 3) == "\u2028") {
                escaped += "\\u2028";
                i += 2;
            } else if (text.substr(i, 3) == "\u2029") {
                escaped += "\\u2029";
                i += 2;
            } else {
                escaped += c;
            }
        }
    }
    return escaped;
}

std::string uploadPageHTML(std::string_view deviceName)
{
    std::string page(uploadPageResource());
    const std::string name = htmlEscaped(deviceName);
    replaceAll(page, nameInScriptMarker, javaScriptStringEscaped(name));
    replaceAll(page, nameMarker, name);
    return page;
}

} // namespace ferrylantern
