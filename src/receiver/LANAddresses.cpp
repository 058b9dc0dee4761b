#include "receiver/LANAddresses.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <span>

namespace ferrylantern {

namespace {

// Loopback, and interfaces that lead to virtual machines, containers or tunnels rather than to the
// network a phone is on: macOS names, then Linux ones (libvirt, Docker, Podman, LXC, Kubernetes CNI,
// VPNs and overlay networks).
constexpr const char* excludedInterfacePrefixes[] = {
    "lo",    "utun", "gif", "stf", "anpi", "awdl",      "llw", "bridge", "vmnet", "vboxnet", "docker", "veth",   "br-",
    "virbr", "vnet", "tun", "tap", "wg",   "tailscale", "zt",  "lxc",    "lxdbr", "podman",  "cni",    "flannel"};

bool startsWithAny(const QString& interface, std::span<const char* const> prefixes)
{
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](const char* prefix) { return interface.startsWith(QLatin1String(prefix)); });
}

int rangeScore(const QString& address)
{
    if (address.startsWith(QLatin1String("192.168."))) {
        return 0;
    }
    if (address.startsWith(QLatin1String("10."))) {
        return 1;
    }
    if (address.startsWith(QLatin1String("172."))) {
        bool isNumber = false;
        const int second = address.section(QLatin1Char('.'), 1, 1).toInt(&isNumber);
        return isNumber && second >= 16 && second <= 31 ? 2 : 5;
    }
    return 5;
}

int interfaceScore(const QString& interface)
{
    switch (interfaceRole(interface)) {
    case InterfaceRole::wifi:
        return 0;
    case InterfaceRole::wired:
        return 10;
    case InterfaceRole::other:
    case InterfaceRole::excluded:
        break;
    }
    return 40;
}

// Numeric host text of an IPv4 socket address, in a buffer of NI_MAXHOST (1025) bytes.
std::optional<QString> numericHost(const sockaddr* address)
{
    char host[NI_MAXHOST] = {};
    if (getnameinfo(address, sizeof(sockaddr_in), host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) {
        return std::nullopt;
    }
    return QString::fromLatin1(host);
}

} // namespace

InterfaceRole interfaceRole(const QString& interface)
{
    constexpr const char* wifiPrefixes[] = {"wl"};
    constexpr const char* wiredPrefixes[] = {"en", "eth"};
    if (startsWithAny(interface, excludedInterfacePrefixes)) {
        return InterfaceRole::excluded;
    }
    // en0 is a Mac's Wi-Fi; on Linux, en* names (enp3s0, eno1) are wired and wl* names wireless.
    if (interface == QLatin1String("en0") || startsWithAny(interface, wifiPrefixes)) {
        return InterfaceRole::wifi;
    }
    if (startsWithAny(interface, wiredPrefixes)) {
        return InterfaceRole::wired;
    }
    return InterfaceRole::other;
}

int addressRank(const QString& interface, const QString& address)
{
    if (address.startsWith(QLatin1String("169.254."))) {
        return unusableRank;
    }
    return rangeScore(address) + interfaceScore(interface);
}

QString addressLabel(const QString& interface, const QString& address)
{
    const QString separator = QStringLiteral(" \u00B7 ");
    switch (interfaceRole(interface)) {
    case InterfaceRole::wifi:
        return QStringLiteral("Wi\u2011Fi (") + interface + QLatin1Char(')') + separator + address;
    case InterfaceRole::wired:
        return QStringLiteral("以太网/网络 (") + interface + QLatin1Char(')') + separator + address;
    case InterfaceRole::other:
    case InterfaceRole::excluded:
        break;
    }
    return interface + separator + address;
}

QList<LANIPv4Address> rankLANAddresses(const QList<InterfaceAddress>& entries)
{
    struct Ranked
    {
        int rank;
        LANIPv4Address address;
    };
    QList<Ranked> kept;
    for (const auto& entry : entries) {
        if (!entry.ipv4Address || !entry.isUpAndRunning || interfaceRole(entry.interface) == InterfaceRole::excluded ||
            entry.ipv4Address->startsWith(QLatin1String("127."))) {
            continue;
        }
        const int rank = addressRank(entry.interface, *entry.ipv4Address);
        if (rank >= unusableRank) {
            continue;
        }
        kept.append({rank, {entry.interface, *entry.ipv4Address, addressLabel(entry.interface, *entry.ipv4Address)}});
    }
    std::stable_sort(kept.begin(), kept.end(), [](const Ranked& a, const Ranked& b) { return a.rank < b.rank; });
    QList<LANIPv4Address> result;
    for (const auto& entry : kept) {
        result.append(entry.address);
    }
    return result;
}

QList<LANIPv4Address> discoverLANIPv4Addresses()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return {};
    }
    QList<InterfaceAddress> entries;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        constexpr unsigned upAndRunning = IFF_UP | IFF_RUNNING;
        InterfaceAddress item{QString::fromUtf8(entry->ifa_name), std::nullopt,
                              (entry->ifa_flags & upAndRunning) == upAndRunning};
        if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET) {
            item.ipv4Address = numericHost(entry->ifa_addr);
        }
        entries.append(item);
    }
    freeifaddrs(list);
    return rankLANAddresses(entries);
}

} // namespace ferrylantern
