// Characters that a sender may put into a name but that must never reach a file name, a folder name
// or a screen as they are: controls that move a terminal's cursor or end a line, bidirectional
// overrides that make "payload.sh" read as "hs.daolyap", invisible formatting characters that make two
// different names look the same, and bytes that are not UTF-8 at all.
//
//   withUnsafeCharactersReplaced("IMG\u202Egpj.sh")   // "IMG_gpj.sh"
#pragma once

#include <string>
#include <string_view>

namespace ferrylantern {

// C0 and C1 controls, DEL, line and paragraph separators, and the invisible formatting characters
// (Unicode category Cf, which holds every bidirectional control), except the zero-width joiner and
// non-joiner and the tag characters, which emoji sequences and several scripts need.
bool isUnsafeCharacter(char32_t scalar);

// `text` in Unicode normalisation form C, with every unsafe character and every byte that is not part
// of well-formed UTF-8 replaced by "_". Text that holds neither and is already in NFC comes back
// unchanged.
std::string withUnsafeCharactersReplaced(std::string_view text);

} // namespace ferrylantern
