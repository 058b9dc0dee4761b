// Address ranking and labels as pure functions, and the real interface list inside a private network
// namespace with made-up interfaces.
#include "receiver/LANAddresses.h"
#include "tests/receiver/ReceiverFixture.h"
#include "tests/support/ChildProcess.h"

#include <fstream>
#include <sstream>

namespace ferrylantern::test {
namespace {

// Reads a QR code printed in half blocks (light modules drawn) as a camera would: rendered into a
// picture and scanned by zbar. Empty when nothing could be read.
std::string scanTerminalQRCode(const std::string& output, const std::filesystem::path& folder)
{
    std::vector<std::vector<bool>> light; // module rows
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("\u2588") == std::string::npos) {
            continue;
        }
        std::vector<bool> top;
        std::vector<bool> bottom;
        for (std::size_t at = 0; at < line.size();) {
            const bool block = line.compare(at, 3, "\u2588") == 0;
            const bool upper = line.compare(at, 3, "\u2580") == 0;
            const bool lower = line.compare(at, 3, "\u2584") == 0;
            top.push_back(block || upper);
            bottom.push_back(block || lower);
            at += block || upper || lower ? 3 : 1;
        }
        light.push_back(top);
        light.push_back(bottom);
    }
    if (light.empty()) {
        return {};
    }
    constexpr int scale = 6;
    const auto width = light.front().size();
    std::string pixels;
    for (const auto& row : light) {
        for (int repeat = 0; repeat < scale; ++repeat) {
            for (std::size_t x = 0; x < width; ++x) {
                pixels.append(scale, x < row.size() && row[x] ? '\xff' : '\0');
            }
        }
    }
    const auto picture = folder / "code.pgm";
    std::ofstream(picture, std::ios::binary) << "P5\n"
                                             << width * scale << ' ' << light.size() * scale << "\n255\n"
                                             << pixels;
    return scanQRCode(picture);
}

TEST(LANAddresses, RankByRangeAndInterface)
{
    const struct
    {
        const char* interface;
        const char* address;
        int rank;
    } cases[] = {
        {"en0", "192.168.1.20", 0},    {"en5", "10.0.0.3", 11},     {"en0", "172.32.0.5", 5},
        {"en0", "172.20.0.5", 2},      {"wlan0", "192.168.0.9", 0}, {"en0", "169.254.3.4", 900},
        {"en1", "8.8.8.8", 15},        {"en0", "172.x.0.1", 5},     {"wlp2s0", "10.0.0.23", 1},
        {"enp3s0", "192.168.1.5", 10}, {"eth0", "10.1.1.1", 11},    {"usb0", "192.168.42.9", 40},
        {"en0", "172.16.0.1", 2},      {"en0", "172.31.255.1", 2},  {"en0", "172.15.0.1", 5},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(std::string(row.interface) + " " + row.address);
        EXPECT_EQ(addressRank(row.interface, row.address), row.rank);
    }
}

TEST(LANAddresses, KeepsUsableEntriesBestFirstInStableOrder)
{
    const QList<InterfaceAddress> entries{
        {"en5", "10.0.0.3"},          {"lo", "127.0.0.1"},         {"utun3", "10.8.0.1"},
        {"bridge100", "192.168.2.1"}, {"virbr0", "192.168.122.1"}, {"docker0", "172.17.0.1"},
        {"br-1a2b", "172.18.0.1"},    {"veth12ab", "192.168.5.1"}, {"tailscale0", "10.64.0.2"},
        {"wg0", "10.9.0.1"},          {"en0", "192.168.1.20"},     {"en0", std::nullopt},
        {"eth9", "127.0.0.5"},        {"en2", "169.254.1.1"},      {"wlan0", "192.168.0.9"},
        {"usb0", "192.168.0.8"},      {"awdl0", "192.168.9.9"},    {"enp3s0", "192.168.7.7", false},
    };
    QStringList ids;
    for (const auto& address : rankLANAddresses(entries)) {
        ids.append(address.id());
    }
    EXPECT_EQ(ids, (QStringList{"en0-192.168.1.20", "wlan0-192.168.0.9", "en5-10.0.0.3", "usb0-192.168.0.8"}));
}

// The real getifaddrs path, in a network namespace of its own with a laptop's interfaces: Wi-Fi,
// wired, a libvirt bridge, Docker's bridge (down), a container's veth and a VPN. The address list, and
// the address ferrylantern-server tells people to open, are the Wi-Fi one first, each with its label. Needs root and
// unshare; skipped where the sandbox forbids it.
TEST(LANAddresses, ReadsTheSystemInterfaceListOfALaptopWithVirtualNetworks)
{
    TemporaryFolder folder;
    // veth pairs rather than dummy interfaces (some kernels here lack the dummy driver); both ends go
    // up so the interface has a carrier.
    const auto link = [](const std::string& name, const std::string& address, bool up = true) {
        return "ip link add " + name + " type veth peer name p" + name + " && ip addr add " + address + " dev " + name +
               (up ? " && ip link set p" + name + " up && ip link set " + name + " up" : "") + " && ";
    };
    const std::string script =
        link("virbr0", "192.168.122.1/24") + link("enp3s0", "192.168.1.5/24") + link("wlp2s0", "10.0.0.23/24") +
        link("docker0", "172.17.0.1/16", false) + link("veth9a1b", "172.18.0.5/16") +
        link("tailscale0", "100.101.1.2/32") + "ip link set lo up && " FERRYLANTERN_LAN_PROBE " && " +
        FERRYLANTERN_SERVER_BINARY " --port 0 --port-file " + (folder.path() / "port").string() + " --save-dir " +
        (folder.path() / "in").string() + " & for i in $(seq 200); do [ -s " + (folder.path() / "port").string() +
        " ] && break; sleep 0.05; done; kill -TERM $!; wait $!";
    ChildProcess probe("/usr/bin/unshare", {"--net", "/bin/sh", "-c", script}, folder.path());
    const auto status = probe.waitForExit(std::chrono::seconds(20));
    if (status != 0) {
        GTEST_SKIP() << "no private network namespace here: " << probe.standardError();
    }
    const auto output = probe.standardOutput();
    EXPECT_EQ(output.substr(0, output.find("FerryLantern")),
              "wlp2s0-10.0.0.23\tWi\u2011Fi (wlp2s0) \u00B7 10.0.0.23\n"
              "enp3s0-192.168.1.5\t以太网/网络 (enp3s0) \u00B7 192.168.1.5\n");
    const auto port = waitForPortFile(folder.path() / "port");
    ASSERT_TRUE(port);
    const auto url = "http://10.0.0.23:" + std::to_string(*port) + "/";
    EXPECT_NE(output.find(url + "\n"), std::string::npos) << output;
    EXPECT_EQ(scanTerminalQRCode(output, folder.path()), url) << output;
}

} // namespace
} // namespace ferrylantern::test
