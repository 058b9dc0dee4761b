#include "app/TerminalQRCode.h"

namespace ferrylantern {

namespace {

// ISO/IEC 18004 asks for four light modules around the symbol.
constexpr int quietZone = 4;

constexpr const char* upperHalf = "\u2580";
constexpr const char* lowerHalf = "\u2584";
constexpr const char* fullBlock = "\u2588";
constexpr const char* lightOnDark = "\x1b[97;40m";
constexpr const char* resetColours = "\x1b[0m";

} // namespace

std::string terminalQRCode(const QRCodeModules& code, TerminalColours colours)
{
    std::string text;
    const int first = -quietZone;
    const int end = code.width() + quietZone;
    for (int y = first; y < end; y += 2) {
        if (colours == TerminalColours::lightOnDark) {
            text += lightOnDark;
        }
        for (int x = first; x < end; ++x) {
            const bool topLight = !code.isDark(x, y);
            const bool bottomLight = y + 1 < end && !code.isDark(x, y + 1);
            text += topLight && bottomLight ? fullBlock : topLight ? upperHalf : bottomLight ? lowerHalf : " ";
        }
        if (colours == TerminalColours::lightOnDark) {
            text += resetColours;
        }
        text += '\n';
    }
    return text;
}

} // namespace ferrylantern
