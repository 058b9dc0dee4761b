// Which scalars are numbers, in any script (the PIN accepts digits of every script).
#pragma once

namespace ferrylantern {

// True for scalars whose Unicode numeric type is decimal, digit or numeric (digits of any script,
// fractions, numeric Han characters).
bool isUnicodeNumeric(char32_t scalar);

} // namespace ferrylantern
