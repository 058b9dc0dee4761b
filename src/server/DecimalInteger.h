// Strict decimal integers, for Content-Length, byte counts and port numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace ferrylantern {

// A decimal integer: an optional "+" or "-", then one or more ASCII digits and nothing else. Fails on
// anything else and on overflow of 64 bits.
std::optional<std::int64_t> parseDecimalInteger(std::string_view text);

} // namespace ferrylantern
