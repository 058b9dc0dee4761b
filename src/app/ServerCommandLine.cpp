#include "app/ServerCommandLine.h"

#include "server/DecimalInteger.h"
#include "server/UTF8.h"
#include "server/UnicodeWhitespace.h"

namespace ferrylantern {

namespace {

constexpr std::size_t pinDigits = 4;

Expected<std::uint16_t, std::string> parsePort(std::string_view text)
{
    const auto value = parseDecimalInteger(text);
    if (!value || text.front() == '+' || text.front() == '-' || *value > 65535) {
        return Unexpected{"--port wants a number from 0 to 65535, not \"" + std::string(text) + "\""};
    }
    return static_cast<std::uint16_t>(*value);
}

std::optional<ConsoleAnswer> parseConfirmAnswer(std::string_view text)
{
    if (text == "accept") {
        return ConsoleAnswer::accept;
    }
    if (text == "reject") {
        return ConsoleAnswer::reject;
    }
    if (text == "ask") {
        return ConsoleAnswer::ask;
    }
    return std::nullopt;
}

std::optional<ConsoleAnswer> parseDuplicateAnswer(std::string_view text)
{
    if (text == "overwrite") {
        return ConsoleAnswer::overwrite;
    }
    if (text == "keep") {
        return ConsoleAnswer::keep;
    }
    if (text == "cancel") {
        return ConsoleAnswer::cancel;
    }
    if (text == "ask") {
        return ConsoleAnswer::ask;
    }
    return std::nullopt;
}

bool isFourDigitPIN(std::string_view text)
{
    return text.size() == pinDigits && text.find_first_not_of("0123456789") == std::string_view::npos;
}

} // namespace

Expected<ServerCommandLine, std::string> parseServerCommandLine(std::span<const std::string_view> arguments)
{
    ServerCommandLine commandLine;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view option = arguments[i];
        std::optional<std::string_view> inlineValue;
        if (const auto equals = option.find('='); option.starts_with("--") && equals != std::string_view::npos) {
            inlineValue = option.substr(equals + 1);
            option = option.substr(0, equals);
        }
        if (option == "--help" || option == "-h") {
            commandLine.showHelp = true;
            continue;
        }
        if (option == "--addresses") {
            commandLine.listAddresses = true;
            continue;
        }
        if (option == "--no-splice") {
            commandLine.rawBodyTransfer = RawBodyTransfer::readAndWrite;
            continue;
        }
        if (option == "--share") {
            // One or more paths: the value after "=", and every argument up to the next option. A path
            // that itself starts with "--" is given as "--share=PATH" or "./--PATH".
            std::size_t taken = 0;
            if (inlineValue) {
                if (inlineValue->empty()) {
                    return Unexpected{std::string("--share needs a file")};
                }
                commandLine.shares.push_back(std::filesystem::absolute(std::filesystem::path(*inlineValue)));
                ++taken;
            }
            while (i + 1 < arguments.size() && !arguments[i + 1].starts_with("--") && arguments[i + 1] != "-h") {
                if (arguments[++i].empty()) {
                    return Unexpected{std::string("--share needs a file")};
                }
                commandLine.shares.push_back(std::filesystem::absolute(std::filesystem::path(arguments[i])));
                ++taken;
            }
            if (taken == 0) {
                return Unexpected{std::string("--share needs a file")};
            }
            continue;
        }
        const bool takesValue = option == "--save-dir" || option == "--name" || option == "--port" ||
                                option == "--port-file" || option == "--pin" || option == "--confirm" ||
                                option == "--on-duplicate";
        if (!takesValue) {
            return Unexpected{"unknown option \"" + std::string(arguments[i]) + "\""};
        }
        if (!inlineValue && i + 1 >= arguments.size()) {
            return Unexpected{std::string(option) + " needs a value"};
        }
        const std::string_view value = inlineValue ? *inlineValue : arguments[++i];
        if (option == "--save-dir") {
            if (value.empty()) {
                return Unexpected{std::string("--save-dir needs a folder")};
            }
            commandLine.saveDirectory = std::filesystem::absolute(std::filesystem::path(value));
        } else if (option == "--name") {
            if (trimWhitespaceAndNewlines(value).empty() || !isValidUTF8(value)) {
                return Unexpected{std::string("--name needs a non-empty UTF-8 name")};
            }
            commandLine.name = std::string(value);
        } else if (option == "--port") {
            const auto port = parsePort(value);
            if (!port) {
                return Unexpected{port.error()};
            }
            commandLine.port = *port;
        } else if (option == "--port-file") {
            if (value.empty()) {
                return Unexpected{std::string("--port-file needs a file name")};
            }
            commandLine.portFile = std::filesystem::path(value);
        } else if (option == "--pin") {
            if (!isFourDigitPIN(value)) {
                return Unexpected{std::string("--pin wants exactly four digits")};
            }
            commandLine.pin = std::string(value);
        } else if (option == "--confirm") {
            commandLine.confirm = parseConfirmAnswer(value);
            if (!commandLine.confirm) {
                return Unexpected{std::string("--confirm wants accept, reject or ask")};
            }
        } else if (option == "--on-duplicate") {
            const auto answer = parseDuplicateAnswer(value);
            if (!answer) {
                return Unexpected{std::string("--on-duplicate wants overwrite, keep, cancel or ask")};
            }
            commandLine.onDuplicate = *answer;
        }
    }
    return commandLine;
}

std::string serverUsage()
{
    return "Usage: ferrylantern-server [--save-dir DIR] [--name NAME] [--port N] [--port-file FILE] [--pin DDDD]\n"
           "                           [--confirm accept|reject|ask] [--on-duplicate overwrite|keep|cancel|ask]\n"
           "                           [--share PATH...] [--no-splice]\n"
           "\n"
           "Receives files and texts from phones on the local network without a window. Phones open the\n"
           "printed address, or scan it, and upload or send a text through the page.\n"
           "\n"
           "  --save-dir DIR    folder to save into, one sub-folder per sending device\n"
           "                    (default: the downloads folder + FerryLantern)\n"
           "  --name NAME       name shown to phones (default: this computer's name)\n"
           "  --port N          preferred TCP port (default 53317; taken: an ephemeral port; 0: ephemeral)\n"
           "  --port-file FILE  once listening, write the port and a newline to FILE\n"
           "  --pin DDDD        require this four-digit PIN before uploads (default: no PIN)\n"
           "  --confirm ANSWER  ask before receiving; accept or reject answers every question at once,\n"
           "                    ask asks on the terminal (default: receive without asking)\n"
           "  --on-duplicate ANSWER\n"
           "                    when a file of the same name exists: overwrite it, keep both (save a\n"
           "                    numbered copy), cancel the upload, or ask on the terminal (default: keep)\n"
           "  --share PATH...   let phones download these files from the page (\"来自电脑\"), read from\n"
           "                    where they are; until the server stops\n"
           "  --no-splice       receive upload bodies through a buffer instead of splice(2), which moves\n"
           "                    them from the network to the file without copying them through the\n"
           "                    program (for comparisons; the result is the same)\n"
           "  --addresses       print this computer's addresses that phones can reach, best first\n"
           "                    (\"ADDRESS<TAB>LABEL\" lines), and exit\n"
           "  -h, --help        show this help\n"
           "\n"
           "Prints one line per saved file (\"saved PATH (N bytes)\"), per failed upload\n"
           "(\"failed NAME from DEVICE\"), per received text (\"text from DEVICE: TEXT\", line breaks and\n"
           "other control characters shown as \\x0A and the like) and per finished download of a shared file\n"
           "(\"sent PATH to DEVICE (N bytes)\"). SIGINT or SIGTERM stops the server.\n";
}

} // namespace ferrylantern
