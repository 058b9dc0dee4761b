// DNS-SD for real: publications through the Avahi daemon, found again by browsing it. The test
// command starts a system D-Bus and avahi-daemon (scripts/with-avahi.sh); without them the tests skip.
#include "receiver/BonjourAdvertiser.h"
#include "tests/receiver/ReceiverFixture.h"
#include "tests/support/ChildProcess.h"

#include <QStringList>

namespace ferrylantern::test {
namespace {

struct BrowsedService
{
    QString name;
    int port = 0;
    QString txt;
};

bool avahiIsRunning()
{
    TemporaryFolder folder;
    ChildProcess check("/usr/sbin/avahi-daemon", {"--check"}, folder.path());
    return check.waitForExit() == 0;
}

// avahi-browse -p writes some bytes as a backslash and three decimal digits ("\032" is a space).
QString unescaped(const QString& text)
{
    QByteArray bytes;
    const QByteArray raw = text.toUtf8();
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 3 < raw.size()) {
            bytes.append(static_cast<char>(raw.mid(i + 1, 3).toInt()));
            i += 3;
        } else {
            bytes.append(raw[i]);
        }
    }
    return QString::fromUtf8(bytes);
}

// One resolved service per "=" line of `avahi-browse -rpt`, IPv4 only.
QList<BrowsedService> browse()
{
    TemporaryFolder folder;
    ChildProcess browser("/usr/bin/avahi-browse", {"-rpt", BonjourAdvertiser::serviceType}, folder.path());
    browser.waitForExit(std::chrono::seconds(15));
    QList<BrowsedService> services;
    for (const auto& line : QString::fromStdString(browser.standardOutput()).split(QLatin1Char('\n'))) {
        const auto fields = line.split(QLatin1Char(';'));
        if (fields.size() >= 10 && fields[0] == QLatin1String("=") && fields[2] == QLatin1String("IPv4")) {
            services.append({unescaped(fields[3]), fields[8].toInt(), fields.mid(9).join(QLatin1Char(';'))});
        }
    }
    return services;
}

std::optional<BrowsedService> find(const QString& name)
{
    for (const auto& service : browse()) {
        if (service.name == name) {
            return service;
        }
    }
    return std::nullopt;
}

class Bonjour : public ReceiverTest
{
protected:
    void SetUp() override
    {
        if (!avahiIsRunning()) {
            GTEST_SKIP() << "avahi-daemon is not running (scripts/with-avahi.sh starts it)";
        }
    }

    // Browses until `name` is published on `port` (0: any port) or, with no port given, gone.
    static bool published(const QString& name, std::optional<int> port)
    {
        return eventually(
            [&] {
                const auto service = find(name);
                return port ? service && (*port == 0 || service->port == *port) : !service;
            },
            std::chrono::seconds(20));
    }

    // A name no other test run uses.
    QString uniqueName = QStringLiteral("FL Test %1").arg(QString::number(getpid()));
};

TEST_F(Bonjour, PublishesNamePortAndTXTRecordARepublishReplacesItATakenNameGetsAnAlternative)
{
    BonjourAdvertiser advertiser;
    advertiser.publish(45001, uniqueName);
    ASSERT_TRUE(published(uniqueName, 45001));
    const auto txt = find(uniqueName)->txt;
    EXPECT_TRUE(txt.contains(QLatin1String("\"v=\\001\""))) << txt.toStdString();
    EXPECT_TRUE(txt.contains(QLatin1String("\"proto=http\""))) << txt.toStdString();
    advertiser.publish(45002, uniqueName);
    ASSERT_TRUE(published(uniqueName, 45002));
    BonjourAdvertiser second;
    second.publish(45102, uniqueName);
    EXPECT_TRUE(published(uniqueName + " #2", 45102));
    advertiser.stop();
    advertiser.stop(); // nothing published: nothing happens
    EXPECT_TRUE(published(uniqueName, std::nullopt));
}

TEST_F(Bonjour, TheModelPublishesWhileRunning)
{
    ReceiverConfiguration configuration;
    configuration.preferences = scope;
    configuration.preferredPort = 0;
    configuration.deviceName = uniqueName + QStringLiteral(" Model");
    model = std::make_unique<TransferReceiverModel>(configuration);
    startAndWait(*model);
    EXPECT_TRUE(published(*configuration.deviceName, *model->port()));
    model->stop();
    EXPECT_TRUE(published(*configuration.deviceName, std::nullopt));
}

} // namespace
} // namespace ferrylantern::test
