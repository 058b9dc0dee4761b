#include "server/RequestOrigin.h"

#include "server/ASCIIText.h"
#include "server/DecimalInteger.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <limits.h>
#include <netinet/in.h>
#include <unistd.h>

namespace ferrylantern {

namespace {

constexpr std::uint16_t defaultHTTPPort = 80;

struct HostAndPort
{
    std::string host; // lower case, without brackets or a final "."
    std::optional<std::uint16_t> port;
};

// Splits "host", "host:port" or "[v6]:port"; nullopt for a port that is not a port.
std::optional<HostAndPort> splitHostAndPort(std::string_view authority)
{
    std::string_view host = authority;
    std::string_view portText;
    if (authority.starts_with('[')) {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        host = authority.substr(1, close - 1);
        const auto rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (!rest.starts_with(':')) {
                return std::nullopt;
            }
            portText = rest.substr(1);
        }
    } else if (const auto colon = authority.rfind(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        portText = authority.substr(colon + 1);
    }
    HostAndPort parts{asciiLowercased(host), std::nullopt};
    if (parts.host.ends_with('.')) {
        parts.host.pop_back();
    }
    if (!portText.empty()) {
        const auto port = parseDecimalInteger(portText);
        if (!port || portText.front() == '+' || portText.front() == '-' || *port > 65535) {
            return std::nullopt;
        }
        parts.port = static_cast<std::uint16_t>(*port);
    }
    return parts;
}

std::optional<in_addr> ipv4Literal(const std::string& host)
{
    in_addr address{};
    if (inet_pton(AF_INET, host.c_str(), &address) != 1) {
        return std::nullopt;
    }
    return address;
}

bool isInterfaceAddress(in_addr wanted)
{
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        return false;
    }
    bool found = false;
    for (const ifaddrs* entry = interfaces; entry != nullptr && !found; entry = entry->ifa_next) {
        if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET) {
            found = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr == wanted.s_addr;
        }
    }
    freeifaddrs(interfaces);
    return found;
}

std::string hostName()
{
    char buffer[HOST_NAME_MAX + 1] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0) {
        return {};
    }
    return asciiLowercased(buffer);
}

bool isThisMachine(const std::string& host, const std::optional<std::string>& connectionAddress)
{
    if (host.empty()) {
        return false;
    }
    if (host == "localhost" || host == "::1") {
        return true;
    }
    if (const auto address = ipv4Literal(host)) {
        if ((ntohl(address->s_addr) >> 24) == 127 || (connectionAddress && host == *connectionAddress)) {
            return true;
        }
        return isInterfaceAddress(*address);
    }
    const std::string name = hostName();
    return !name.empty() && (host == name || host == name + ".local");
}

} // namespace

bool namesThisMachine(std::string_view hostHeader, const std::optional<std::string>& connectionAddress)
{
    const auto parts = splitHostAndPort(hostHeader);
    return parts && isThisMachine(parts->host, connectionAddress);
}

bool isOwnOrigin(std::string_view origin, std::optional<std::string_view> hostHeader,
                 const std::optional<std::string>& connectionAddress, std::optional<std::uint16_t> connectionPort)
{
    constexpr std::string_view scheme = "http://";
    if (origin.size() <= scheme.size() || asciiLowercased(origin.substr(0, scheme.size())) != scheme) {
        return false;
    }
    const auto parts = splitHostAndPort(origin.substr(scheme.size()));
    if (!parts || !isThisMachine(parts->host, connectionAddress)) {
        return false;
    }
    const std::uint16_t port = parts->port.value_or(defaultHTTPPort);
    if (connectionPort && port == *connectionPort) {
        return true;
    }
    if (hostHeader) {
        const auto requested = splitHostAndPort(*hostHeader);
        return requested && port == requested->port.value_or(defaultHTTPPort);
    }
    return false;
}

} // namespace ferrylantern
