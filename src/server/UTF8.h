// Well-formed UTF-8 (RFC 3629): checking it, repairing texts that quote what a client sent, and
// decoding one scalar at a time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ferrylantern {

bool isValidUTF8(std::string_view text);

// `text` with every byte that is not part of well-formed UTF-8 replaced by U+FFFD, for texts that
// quote what a client sent.
std::string validUTF8Text(std::string_view text);

// Decodes the scalar that starts at `offset` and advances `offset` past it. An invalid or truncated
// sequence yields U+FFFD and advances by one byte.
char32_t nextScalar(std::string_view text, std::size_t& offset);

} // namespace ferrylantern
