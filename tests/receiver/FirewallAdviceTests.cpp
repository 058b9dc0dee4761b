// The firewall check over made-up ufw files and a stand-in for firewall-cmd, and the model that runs
// it after a start.
#include "receiver/FirewallAdvice.h"
#include "tests/receiver/ReceiverFixture.h"

#include <QSignalSpy>

#include <fstream>

namespace ferrylantern::test {
namespace {

constexpr std::uint16_t port = 53317;

struct Case
{
    const char* name;
    const char* ufwConfiguration; // null: no ufw
    const char* ufwDefaults;
    const char* ufwRules; // null: not readable
    int firewalldState;   // exit code of "firewall-cmd --state"; -1: missing
    int firewalldQuery;
    const char* expectedCommand; // null: no advice
    bool certain;
};

const Case cases[] = {
    {"nothing installed", nullptr, nullptr, nullptr, -1, -1, nullptr, false},
    {"ufw off", "ENABLED=no\n", nullptr, "", -1, -1, nullptr, false},
    {"ufw on, port allowed", "ENABLED=yes\n", nullptr, "### tuple ### allow tcp 53317 0.0.0.0/0 any 0.0.0.0/0 in\n", -1,
     -1, nullptr, false},
    {"ufw on, any protocol in a range", "ENABLED=yes\n", nullptr,
     "### tuple ### allow any 53000:54000 0.0.0.0/0 any 0.0.0.0/0 in\n", -1, -1, nullptr, false},
    {"ufw on, other ports only", "ENABLED=\"yes\"\n", nullptr,
     "### tuple ### allow tcp 22,80 0.0.0.0/0 any 0.0.0.0/0 in\n### tuple ### deny tcp 53317 0.0.0.0/0 any "
     "0.0.0.0/0 in\n",
     -1, -1, "sudo ufw allow 53317/tcp", true},
    {"ufw on, rules unreadable", "ENABLED=yes\n", nullptr, nullptr, -1, -1, "sudo ufw allow 53317/tcp", false},
    {"ufw on, accepting by default", "ENABLED=yes\n", "DEFAULT_INPUT_POLICY=\"ACCEPT\"\n", nullptr, -1, -1, nullptr,
     false},
    {"firewalld off", nullptr, nullptr, nullptr, 252, -1, nullptr, false},
    {"firewalld allows", nullptr, nullptr, nullptr, 0, 0, nullptr, false},
    {"firewalld refuses", nullptr, nullptr, nullptr, 0, 1,
     "sudo firewall-cmd --permanent --add-port=53317/tcp && sudo firewall-cmd --reload", true},
    {"firewalld will not say", nullptr, nullptr, nullptr, 0, 11,
     "sudo firewall-cmd --permanent --add-port=53317/tcp && sudo firewall-cmd --reload", false},
};

void write(const std::filesystem::path& file, const char* text)
{
    if (text != nullptr) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
}

TEST(FirewallAdvice, ReadsUfwAndAsksFirewalld)
{
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        TemporaryFolder root;
        write(root.path() / "etc/ufw/ufw.conf", row.ufwConfiguration);
        write(root.path() / "etc/default/ufw", row.ufwDefaults);
        write(root.path() / "etc/ufw/user.rules", row.ufwRules);
        const FirewallProbe probe{
            root.path(), [&](const QString&, const QStringList& arguments) {
                if (arguments == QStringList{"--state"}) {
                    return FirewallProbe::CommandResult{row.firewalldState, "running\n"};
                }
                EXPECT_EQ(arguments, QStringList{"--query-port=53317/tcp"});
                return FirewallProbe::CommandResult{row.firewalldQuery, row.firewalldQuery == 1 ? "no\n" : "yes\n"};
            }};
        const auto advice = firewallAdvice(port, probe);
        if (row.expectedCommand == nullptr) {
            EXPECT_FALSE(advice) << advice->message(port).toStdString();
            continue;
        }
        ASSERT_TRUE(advice);
        EXPECT_EQ(advice->command, row.expectedCommand);
        EXPECT_EQ(advice->certain, row.certain);
        EXPECT_TRUE(advice->message(port).contains(row.expectedCommand));
    }
}

class ModelFirewall : public ReceiverTest
{};

TEST_F(ModelFirewall, TheCheckRunsForTheStartedPortAndEndsWithTheStop)
{
    TemporaryFolder root;
    write(root.path() / "etc/ufw/ufw.conf", "ENABLED=yes\n");
    ReceiverConfiguration configuration;
    configuration.preferences = scope;
    configuration.preferredPort = 0;
    configuration.firewall = FirewallProbe{root.path(), {}};
    model = std::make_unique<TransferReceiverModel>(configuration);
    QSignalSpy changed(model.get(), &TransferReceiverModel::firewallAdviceChanged);
    startAndWait(*model);
    ASSERT_TRUE(changed.wait(5000));
    ASSERT_TRUE(model->firewallAdvice());
    EXPECT_EQ(model->firewallAdvice()->command, QStringLiteral("sudo ufw allow %1/tcp").arg(*model->port()));
    model->stop();
    EXPECT_FALSE(model->firewallAdvice());
}

} // namespace
} // namespace ferrylantern::test
