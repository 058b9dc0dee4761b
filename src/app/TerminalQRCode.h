// The access URL's QR code as text for a terminal: two rows of modules per line in half-block
// characters, with a quiet zone of four modules. Light modules are the drawn ones, so the code reads
// right where light text stands on a dark background (the usual terminal); on a terminal, the caller
// also sets those colours, so a light terminal shows it right too.
//
//   std::fputs(terminalQRCode(url).c_str(), stdout);
#pragma once

#include "receiver/QRCodeModules.h"

#include <string>

namespace ferrylantern {

// Lines end with "\n". `colours` wraps each line in the escape sequences for bright white text on a
// black background.
enum class TerminalColours
{
    none,
    lightOnDark,
};
std::string terminalQRCode(const QRCodeModules& code, TerminalColours colours);

} // namespace ferrylantern
