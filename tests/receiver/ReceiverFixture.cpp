#include "tests/receiver/ReceiverFixture.h"

#include <QDir>

#include <future>

namespace ferrylantern::test {

ReceiverTest::ReceiverTest()
    : scope(QString::fromStdString((home.path() / "preferences.ini").string()))
    , previousHome_(qgetenv("HOME"))
    , previousConfigHome_(qgetenv("XDG_CONFIG_HOME"))
{
    qputenv("HOME", QByteArray::fromStdString(home.path().string()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((home.path() / ".config").string()));
}

ReceiverTest::~ReceiverTest()
{
    if (model) {
        EXPECT_TRUE(model->shutDown(std::chrono::seconds(10)));
        model.reset();
    }
    qputenv("HOME", previousHome_);
    qputenv("XDG_CONFIG_HOME", previousConfigHome_);
}

std::unique_ptr<TransferReceiverModel> ReceiverTest::makeModel(std::optional<QString> historyFile)
{
    ReceiverConfiguration configuration;
    configuration.historyFile = std::move(historyFile);
    configuration.preferences = scope;
    configuration.preferredPort = 0;
    configuration.deviceName = QStringLiteral("Test Mac");
    return std::make_unique<TransferReceiverModel>(configuration);
}

void ReceiverTest::startAndWait(TransferReceiverModel& started)
{
    started.start();
    ASSERT_TRUE(waitFor([&] { return !started.isStarting(); }));
}

bool ReceiverTest::waitFor(const std::function<bool()>& condition, int milliseconds)
{
    return QTest::qWaitFor(condition, milliseconds);
}

HttpReply ReceiverTest::requestWhileProcessing(TransferReceiverModel& target, const std::string& request)
{
    const auto port = *target.port();
    auto reply = std::async(std::launch::async, [port, request] { return sendRequest(port, request); });
    waitFor([&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 20000);
    return reply.get();
}

} // namespace ferrylantern::test
