#include "webclient/UploadPage.h"

#include "webclient/UploadPageResource.h"

#include <initializer_list>

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

struct Fill
{
    std::string_view marker;
    std::string_view value;
};

// Copies `resource` with every marker replaced, in one pass: text already filled in is never searched
// again, so a name that spells a marker (say "{{DEVICE_NAME}}'") stays literal instead of letting its
// only-HTML-escaped copy land inside the script's string.
std::string filled(std::string_view resource, std::initializer_list<Fill> fills)
{
    std::string out;
    out.reserve(resource.size());
    std::size_t from = 0;
    while (true) {
        std::size_t nearest = std::string_view::npos;
        const Fill* chosen = nullptr;
        for (const Fill& fill : fills) {
            const auto at = resource.find(fill.marker, from);
            if (at < nearest) {
                nearest = at;
                chosen = &fill;
            }
        }
        if (chosen == nullptr) {
            out.append(resource.substr(from));
            return out;
        }
        out.append(resource.substr(from, nearest - from));
        out.append(chosen->value);
        from = nearest + chosen->marker.size();
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
    const std::string name = htmlEscaped(deviceName);
    const std::string nameInScript = javaScriptStringEscaped(name);
    return filled(uploadPageResource(), {{nameMarker, name}, {nameInScriptMarker, nameInScript}});
}

} // namespace ferrylantern
