// What a text sent between the phone and the desktop may be: not blank, well-formed UTF-8, at most
// 64 KiB. The text endpoint and the desktop's own shared texts keep to the same rule.
//
//   if (const auto problem = textProblem(text)) {
//       return refusalResponse(*problem == TextProblem::tooLong ? … : …);
//   }
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ferrylantern {

// The most a text may hold, in bytes of UTF-8.
inline constexpr std::size_t maxTextBytes = 65536;

enum class TextProblem
{
    empty,   // nothing but white space and line breaks
    notUTF8, // malformed UTF-8
    tooLong, // more than maxTextBytes
};

// What is wrong with `text`, or nullopt when it may be sent. A text is kept as it is: its white space
// counts for the length but not as content.
std::optional<TextProblem> textProblem(std::string_view text);

// The start of the first line of `text` that is not blank, trimmed, at most `maxCharacters`
// user-perceived characters with "…" when cut, and with the characters that could disguise it
// replaced (as in shown file names): what a question or a one-line row shows of a text.
std::string textPreview(std::string_view text, std::size_t maxCharacters);

} // namespace ferrylantern
