// Percent-decoding of query components and extended parameter values (RFC 3986 §2.1).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ferrylantern {

// Decodes %XX escapes. Fails on a malformed escape or when the decoded bytes are not valid UTF-8.
// A plus sign stays a plus sign.
std::optional<std::string> percentDecoded(std::string_view text);

} // namespace ferrylantern
