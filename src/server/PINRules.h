// The one PIN rule shared by the server and the PIN fields of the desktop interface.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace ferrylantern {

// The two PIN preferences as the server's owner stores them ("transferPINEnabled" and
// "transferPINCode"). The server reads them on every request through a PINSettingsProvider, so a
// change takes effect with the next request and the server needs no preference store of its own.
struct PINSettings
{
    bool enabled = false;
    std::string code;
};

using PINSettingsProvider = std::function<PINSettings()>;

// Keeps the numeric characters of `text` (digits of any script included), in order, and at most the
// first four of them.
std::string normalizedPIN(std::string_view text);

// The gate is active exactly when it is switched on and the normalized PIN has four characters.
bool isPINRequired(const PINSettings& settings);

} // namespace ferrylantern
