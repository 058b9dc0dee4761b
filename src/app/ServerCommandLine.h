// The command line of ferrylantern-server, the receiver without a window:
//
//   ferrylantern-server [--save-dir DIR] [--name NAME] [--port N] [--port-file FILE] [--pin DDDD]
//                       [--confirm accept|reject|ask] [--on-duplicate overwrite|keep|cancel|ask]
//                       [--share PATH…] [--no-splice]
//   ferrylantern-server --addresses
//
// Scripts outside the project rely on these options; keep their meaning and defaults.
#pragma once

#include "server/Expected.h"
#include "server/RawBodyReceiver.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ferrylantern {

// How a question of the server is answered without a window.
enum class ConsoleAnswer
{
    accept,    // --confirm accept
    reject,    // --confirm reject
    overwrite, // --on-duplicate overwrite
    keep,      // --on-duplicate keep
    cancel,    // --on-duplicate cancel
    ask,       // ask on the terminal
};

struct ServerCommandLine
{
    std::optional<std::filesystem::path> saveDirectory; // default: the downloads folder + "FerryLantern"
    std::optional<std::string> name;                    // default: the computer's name
    std::uint16_t port = 53317;                         // preferred; 0 asks for an ephemeral port
    std::optional<std::filesystem::path> portFile;      // receives the bound port once listening
    std::optional<std::string> pin;                     // four digits; switches the PIN gate on
    std::optional<ConsoleAnswer> confirm;               // switches confirmation on; absent: off
    ConsoleAnswer onDuplicate = ConsoleAnswer::keep;
    // Files phones may download from the page, by reference, in the order given.
    std::vector<std::filesystem::path> shares;
    // --no-splice: raw bodies through a buffer, to compare the two ways and to test the second.
    RawBodyTransfer rawBodyTransfer = RawBodyTransfer::spliceWhereSupported;
    bool showHelp = false;
    bool listAddresses = false; // print the addresses phones can reach, best first, and exit
};

// Parses the arguments after the program name. Options take their value as the next argument or
// after "=". The error says what was wrong, for a usage message.
Expected<ServerCommandLine, std::string> parseServerCommandLine(std::span<const std::string_view> arguments);

// The usage text, for --help and after an error.
std::string serverUsage();

} // namespace ferrylantern
