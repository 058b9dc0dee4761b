// The IPv4 addresses of this computer that a phone on the same network can reach, best first, with
// the labels the address picker shows.
#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

#include <optional>

namespace ferrylantern {

struct LANIPv4Address
{
    QString interface; // as the system names it, e.g. wlp2s0 or en0
    QString address;   // dotted quad
    QString label;     // for the picker

    // "interface-address", the identity the model's selection stores.
    QString id() const { return interface + QLatin1Char('-') + address; }
    bool operator==(const LANIPv4Address&) const = default;
};

// One entry of the system's interface list, reduced to what discovery looks at.
struct InterfaceAddress
{
    QString interface;
    std::optional<QString> ipv4Address; // none: not IPv4, or not convertible to text
    bool isUpAndRunning = true;         // an interface that is down or has no carrier reaches no phone
};

// What an interface is to a phone looking for this computer. Linux names map onto the roles the
// ranking knows: wl*/wlan* are Wi-Fi (as en0 is), en*/eth* wired, and bridges, containers, virtual
// machines and tunnels lead nowhere a phone is.
enum class InterfaceRole
{
    wifi,
    wired,
    other,
    excluded,
};
InterfaceRole interfaceRole(const QString& interface);

// Addresses in this range or worse are dropped (link-local 169.254.x.x ranks exactly here).
constexpr int unusableRank = 900;

// Lower is better: 192.168. before 10. before 172.16–31. before the rest, plus 0 for Wi-Fi, 10 for
// wired interfaces and 40 for everything else; link-local addresses rank 900.
int addressRank(const QString& interface, const QString& address);

// "Wi‑Fi (wlp2s0) · 192.168.1.20", "以太网/网络 (enp3s0) · 10.0.0.3" or "usb0 · 192.168.42.9".
QString addressLabel(const QString& interface, const QString& address);

// Keeps the usable entries (IPv4, up and running, not loopback, virtual or tunnel interfaces, not 127.
// addresses, rank below 900) and sorts them by rank; equal ranks keep the system's order.
QList<LANIPv4Address> rankLANAddresses(const QList<InterfaceAddress>& entries);

// The host's usable addresses, best first (getifaddrs); empty when the list cannot be read.
QList<LANIPv4Address> discoverLANIPv4Addresses();

} // namespace ferrylantern

Q_DECLARE_METATYPE(ferrylantern::LANIPv4Address)
