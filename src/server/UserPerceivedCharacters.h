// Counting and cutting UTF-8 text by user-perceived characters, so that names kept within a limit
// never lose half of an accented letter, a flag or an emoji sequence.
#pragma once

#include <cstddef>
#include <string_view>

namespace ferrylantern {

// The byte length of the first `maxCharacters` user-perceived characters of `text`: a base scalar
// with the combining marks, variation selectors, emoji modifiers and zero-width joins that follow
// it counts as one character, as does a pair of regional indicators or CR LF.
std::size_t prefixLengthInCharacters(std::string_view text, std::size_t maxCharacters);

// The byte length of the longest prefix of whole user-perceived characters of `text` that fits in
// `maxBytes` bytes.
std::size_t prefixLengthWithinBytes(std::string_view text, std::size_t maxBytes);

// The number of user-perceived characters of `text`, counted as prefixLengthInCharacters does.
std::size_t characterCount(std::string_view text);

} // namespace ferrylantern
