// Text helpers shared by the request parsers and the name derivations. All functions take and return
// UTF-8; none of them allocates more than its result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ferrylantern {

// Removes leading and trailing ASCII spaces and tabs (the trimming HTTP header fields get).
std::string_view trimSpacesAndTabs(std::string_view text);

// Removes leading and trailing white space and line breaks in the Unicode sense: tab, line feed,
// vertical tab, form feed, carriage return, U+0085 and the space, line and paragraph separators
// (U+00A0, U+3000, U+2028 and so on). Invalid UTF-8 is left in place.
std::string_view trimWhitespaceAndNewlines(std::string_view text);

bool isValidUTF8(std::string_view text);

// `text` with every byte that is not part of well-formed UTF-8 replaced by U+FFFD, for texts that
// quote what a client sent.
std::string validUTF8Text(std::string_view text);

std::string asciiLowercased(std::string_view text);
std::string asciiUppercased(std::string_view text);
bool startsWithIgnoringASCIICase(std::string_view text, std::string_view prefix);

// Decodes %XX escapes. Fails on a malformed escape or when the decoded bytes are not valid UTF-8.
// A plus sign stays a plus sign.
std::optional<std::string> percentDecoded(std::string_view text);

// A decimal integer: an optional "+" or "-", then one or more ASCII digits and nothing else. Fails on
// anything else and on overflow of 64 bits.
std::optional<std::int64_t> parseDecimalInteger(std::string_view text);

// Decodes the scalar that starts at `offset` and advances `offset` past it. An invalid or truncated
// sequence yields U+FFFD and advances by one byte.
char32_t nextScalar(std::string_view text, std::size_t& offset);

// True for scalars whose Unicode numeric type is decimal, digit or numeric (digits of any script,
// fractions, numeric Han characters).
bool isUnicodeNumeric(char32_t scalar);

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
