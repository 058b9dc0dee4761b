// Address ranking and labels as pure functions, and the real interface list inside a private network
// namespace with made-up interfaces.
#include "receiver/LANAddresses.h"
#include "tests/receiver/ReceiverFixture.h"
#include "tests/support/ChildProcess.h"

namespace ferrylantern::test {
namespace {

TEST(LANAddresses, RankByRangeAndInterface)
{
    const struct
    {
        const char* interface;
        const char* address;
        int rank;
    } cases[] = {
        {"en0", "192.168.1.20", 0},   {"en5", "10.0.0.3", 11},     {"en0", "172.32.0.5", 5}, {"en0", "172.20.0.5", 2},
        {"wlan0", "192.168.0.9", 40}, {"en0", "169.254.3.4", 900}, {"en1", "8.8.8.8", 15},   {"en0", "172.x.0.1", 5},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(std::string(row.interface) + " " + row.address);
        EXPECT_EQ(addressRank(row.interface, row.address), row.rank);
    }
}

TEST(LANAddresses, LabelsUseTheNonBreakingHyphenAndMiddleDot)
{
    EXPECT_EQ(addressLabel("en0", "192.168.1.20"), QStringLiteral("Wi\u2011Fi (en0) \u00B7 192.168.1.20"));
    EXPECT_EQ(addressLabel("en5", "10.0.0.3"), QStringLiteral("以太网/网络 (en5) \u00B7 10.0.0.3"));
    EXPECT_EQ(addressLabel("wlan0", "192.168.0.9"), QStringLiteral("wlan0 \u00B7 192.168.0.9"));
}

TEST(LANAddresses, KeepsUsableEntriesBestFirstInStableOrder)
{
    const QList<InterfaceAddress> entries{
        {"en5", "10.0.0.3"},      {"lo", "127.0.0.1"},      {"utun3", "10.8.0.1"},    {"bridge100", "192.168.2.1"},
        {"en0", "192.168.1.20"},  {"en0", std::nullopt},    {"eth9", "127.0.0.5"},    {"en2", "169.254.1.1"},
        {"wlan0", "192.168.0.9"}, {"wlan1", "192.168.0.8"}, {"awdl0", "192.168.9.9"},
    };
    QStringList ids;
    for (const auto& address : rankLANAddresses(entries)) {
        ids.append(address.id());
    }
    EXPECT_EQ(ids, (QStringList{"en0-192.168.1.20", "en5-10.0.0.3", "wlan0-192.168.0.9", "wlan1-192.168.0.8"}));
}

// The real getifaddrs path, in a network namespace of its own (needs root and unshare; skipped
// where the sandbox forbids it).
TEST(LANAddresses, ReadsTheSystemInterfaceList)
{
    TemporaryFolder folder;
    // veth pairs rather than dummy interfaces: some kernels here lack the dummy driver.
    const std::string script = "ip link add en0 type veth peer name p0 && ip addr add 192.168.1.20/24 dev en0 && "
                               "ip link set en0 up && "
                               "ip link add en5 type veth peer name p5 && ip addr add 10.0.0.3/8 dev en5 && "
                               "ip link set en5 up && "
                               "ip link add utun3 type veth peer name p3 && ip addr add 10.8.0.1/24 dev utun3 && "
                               "ip link set utun3 up && ip link set lo up && "
                               "exec " FERRYLANTERN_LAN_PROBE;
    ChildProcess probe("/usr/bin/unshare", {"--net", "/bin/sh", "-c", script}, folder.path());
    const auto status = probe.waitForExit();
    if (status != 0) {
        GTEST_SKIP() << "no private network namespace here: " << probe.standardError();
    }
    EXPECT_EQ(probe.standardOutput(), "en0-192.168.1.20\tWi\u2011Fi (en0) \u00B7 192.168.1.20\n"
                                      "en5-10.0.0.3\t以太网/网络 (en5) \u00B7 10.0.0.3\n");
}

class AddressSelection : public ReceiverTest
{};

TEST_F(AddressSelection, AccessURLNeedsARunningServerAndAnAddress)
{
    model = makeModel();
    model->refreshLANAddresses();
    EXPECT_FALSE(model->accessURL()); // stopped, whatever the addresses
    startAndWait(*model);
    if (model->lanAddresses().isEmpty()) {
        EXPECT_FALSE(model->selectedAddressID());
        EXPECT_FALSE(model->accessURL());
    } else {
        const auto& first = model->lanAddresses().first();
        EXPECT_EQ(model->selectedAddressID(), first.id());
        EXPECT_EQ(model->accessURL(), QStringLiteral("http://%1:%2/").arg(first.address).arg(*model->port()));
        // A selection that disappears falls back to the first entry.
        model->setSelectedAddressID(QStringLiteral("gone0-10.9.9.9"));
        EXPECT_EQ(model->selectedAddress(), first.address);
        model->refreshLANAddresses();
        EXPECT_EQ(model->selectedAddressID(), first.id());
    }
}

} // namespace
} // namespace ferrylantern::test
