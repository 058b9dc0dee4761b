#include "server/HostName.h"

#include "server/UnicodeWhitespace.h"

#include <limits.h>
#include <unistd.h>

#include <fstream>

namespace ferrylantern {

namespace {

// The value of PRETTY_HOSTNAME in an environment-style file (KEY=value, optionally quoted, with
// shell-style backslash escapes inside double quotes).
std::string prettyHostName(const std::filesystem::path& machineInfo)
{
    std::ifstream file(machineInfo);
    std::string line;
    constexpr std::string_view key = "PRETTY_HOSTNAME=";
    while (std::getline(file, line)) {
        if (!line.starts_with(key)) {
            continue;
        }
        std::string_view value = std::string_view(line).substr(key.size());
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
            const char quote = value.front();
            value = value.substr(1, value.size() - 2);
            if (quote == '\'') {
                return std::string(value);
            }
            std::string unescaped;
            for (std::size_t i = 0; i < value.size(); ++i) {
                if (value[i] == '\\' && i + 1 < value.size()) {
                    ++i;
                }
                unescaped += value[i];
            }
            return unescaped;
        }
        return std::string(value);
    }
    return {};
}

} // namespace

std::string localComputerName(const std::filesystem::path& machineInfo)
{
    std::string name(trimWhitespaceAndNewlines(prettyHostName(machineInfo)));
    if (name.empty()) {
        char buffer[HOST_NAME_MAX + 1] = {};
        if (gethostname(buffer, sizeof buffer - 1) == 0) {
            name = trimWhitespaceAndNewlines(buffer);
        }
    }
    return name.empty() ? "Mac" : name;
}

} // namespace ferrylantern
