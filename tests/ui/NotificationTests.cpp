// Desktop notifications against real notification servers on a private session bus: a recording server
// of our own (each capability set the notification protocol allows) and dunst under Xvfb, with uploads made
// the way the page makes them, over loopback, to a real receiver.
#include "tests/support/HttpTestClient.h"
#include "tests/ui/DesktopServices.h"
#include "tests/ui/ViewTestSupport.h"
#include "ui/ConfirmationAlerts.h"
#include "ui/ContentView.h"
#include "ui/DesktopNotifications.h"
#include "ui/FerryLanternApp.h"
#include "ui/NotificationTexts.h"
#include "ui/TransferNotifications.h"

#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <nlohmann/json.hpp>

namespace ferrylantern::test {
namespace {

// MARK: Texts

// A notification's "open" starts the file's program: a file the system would run is only revealed,
// whether its name, its content or its permissions say so.
TEST(NotificationOpenAction, IsOfferedForPlainFilesOnly)
{
    const test::TemporaryFolder folder;
    const struct
    {
        const char* name;
        std::string content;
        bool safe;
    } files[] = {
        {"photo.jpg", "\xFF\xD8\xFF\xE0 jpeg", true},
        {"notes.txt", "hello", true},
        {"install.desktop", "[Desktop Entry]\nType=Application\nExec=sh\n", false},
        {"run.sh", "#!/bin/sh\necho hi\n", false},
        {"cat.jpg",
         std::string("\x7F"
                     "ELF\x02\x01\x01",
                     7) +
             std::string(64, '\0'),
         false},
    };
    for (const auto& file : files) {
        std::ofstream(folder.path() / file.name) << file.content;
        EXPECT_EQ(isSafeToOpenDirectly(QString::fromStdString((folder.path() / file.name).string())), file.safe)
            << file.name;
    }
    const auto runnable = folder.path() / "also-notes.txt";
    std::ofstream(runnable) << "hello";
    std::filesystem::permissions(runnable, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
    EXPECT_FALSE(isSafeToOpenDirectly(QString::fromStdString(runnable.string())));
    EXPECT_FALSE(isSafeToOpenDirectly(QString::fromStdString(folder.path().string())));
}

TEST(NotificationTexts, CountTheFilesAndNameTheDevice)
{
    EXPECT_EQ(receivedFilesSummary(1), "收到文件");
    EXPECT_EQ(receivedFilesSummary(3), "收到 3 个文件");
    EXPECT_EQ(receivedFilesBody(QStringLiteral("小明的 iPhone"), 1, {QStringLiteral("a.jpg")}),
              "来自：小明的 iPhone\na.jpg");
    EXPECT_EQ(receivedFilesBody(QStringLiteral("Phone"), 3, {"a", "b", "c"}), "来自：Phone\na、b、c");
    EXPECT_EQ(receivedFilesBody(QStringLiteral("Phone"), 500, {"a", "b", "c"}),
              "来自：Phone\na、b、c…及其他 497 个文件");
    EXPECT_EQ(receivedFilesBody(QStringLiteral("  "), 1, {"a"}), "来自：未分类\na");
    // A name cannot add lines of its own to the notification.
    EXPECT_EQ(receivedFilesBody(QStringLiteral("Pho\nne"), 1, {QStringLiteral("x\r\ny\u2028z")}),
              "来自：Pho ne\nx  y z");
    EXPECT_EQ(receiveQuestionSummary(1), "是否接收文件？");
    EXPECT_EQ(receiveQuestionSummary(4), "是否接收 4 个文件？");
    EXPECT_EQ(escapedForNotificationMarkup(QStringLiteral("<b>R&D</b> \"x\"")), "&lt;b&gt;R&amp;D&lt;/b&gt; \"x\"");
}

// MARK: Against a recording server

// What the page does: one batch preflight for the selection, then one upload per file with its ticket.
// Returns the preflight's answer.
HttpReply uploadLikeThePage(std::uint16_t port, const std::string& device, const std::vector<std::string>& names)
{
    nlohmann::json files = nlohmann::json::array();
    for (const auto& name : names) {
        files.push_back({{"filename", name}, {"byteCount", name.size()}});
    }
    const auto preflight = sendRequest(port, buildRequest("POST", "/v1/upload/preflight/batch", "",
                                                          nlohmann::json{{"device", device}, {"files", files}}.dump()));
    if (preflight.status != 200) {
        return preflight;
    }
    const auto items = nlohmann::json::parse(preflight.body)["items"];
    const auto encodedDevice = QUrl::toPercentEncoding(QString::fromStdString(device)).toStdString();
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto encodedName = QUrl::toPercentEncoding(QString::fromStdString(names[i])).toStdString();
        sendRequest(port, buildRequest("POST",
                                       "/v1/upload?filename=" + encodedName + "&device=" + encodedDevice +
                                           "&uploadId=" + items[i]["uploadId"].get<std::string>(),
                                       "", names[i]));
    }
    return preflight;
}

QStringList keysOf(const QStringList& actions)
{
    QStringList keys;
    for (qsizetype i = 0; i + 1 < actions.size(); i += 2) {
        keys << actions.at(i);
    }
    return keys;
}

class Notifications : public ::testing::Test
{
protected:
    void start(const QStringList& capabilities = {"actions", "body", "body-markup"})
    {
        ASSERT_TRUE(bus.isRunning());
        server = std::make_unique<RecordingNotificationServer>(bus, capabilities);
        ReceiverConfiguration configuration;
        configuration.preferences = preferences->scope();
        configuration.preferredPort = 0;
        model = std::make_unique<TransferReceiverModel>(configuration);
        model->start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return model->isRunning(); }, 5000));
        desktop = std::make_unique<DesktopNotifications>(bus.connect(QStringLiteral("client")));
        notifications = std::make_unique<TransferNotifications>(
            *model, *preferences, *desktop,
            TransferNotifications::Actions{.showWindow = [this] { ++windowShown; },
                                           .openFile = [this](const QString& path) { opened << path; },
                                           .revealFile = [this](const QString& path) { revealed << path; }});
        ASSERT_TRUE(QTest::qWaitFor([&] { return !desktop->isBusy(); }, 5000));
        EXPECT_EQ(desktop->capabilities(), capabilities);
    }

    ~Notifications() override
    {
        if (model) {
            model->rejectAllConfirmations();
            model->duplicates().resolveAllDuplicates(DuplicateFileResolution::cancel);
            EXPECT_TRUE(model->shutDown(std::chrono::seconds(5)));
        }
    }

    bool settled()
    {
        return QTest::qWaitFor([&] { return !desktop->isBusy(); }, 5000);
    }

    QSet<uint> distinctIDs() const
    {
        QSet<uint> ids;
        for (const auto& sent : server->notifications()) {
            ids.insert(sent.id);
        }
        return ids;
    }

    ScopedHome home;
    TemporaryPreferences preferences;
    PrivateSessionBus bus;
    std::unique_ptr<RecordingNotificationServer> server;
    std::unique_ptr<TransferReceiverModel> model;
    std::unique_ptr<DesktopNotifications> desktop;
    std::unique_ptr<TransferNotifications> notifications;
    int windowShown = 0;
    QStringList opened;
    QStringList revealed;
};

struct ServerKind
{
    const char* name;
    QStringList capabilities;
};

class NotificationsOnEveryServer : public Notifications, public ::testing::WithParamInterface<ServerKind>
{};

TEST_P(NotificationsOnEveryServer, AThreeFileBatchIsOneNotificationNamingTheDevice)
{
    start(GetParam().capabilities);
    const std::string device = "小明的 <iPhone> & Co";
    const auto preflight = whileProcessing([&] {
        return uploadLikeThePage(*model->port(), device, {"a.jpg", "b<i>.jpg", "c.txt"});
    });
    ASSERT_EQ(preflight.status, 200);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->recentTransfers().size() == 3 && !desktop->isBusy(); }, 5000));

    ASSERT_EQ(distinctIDs().size(), 1);
    const auto& all = server->notifications();
    EXPECT_EQ(all.first().replacesID, 0u);
    for (const auto& update : all.mid(1)) {
        EXPECT_EQ(update.replacesID, all.first().id); // updated in place
    }
    const auto shown = all.last();
    EXPECT_EQ(shown.appName, QCoreApplication::applicationName());
    EXPECT_EQ(shown.summary, "收到 3 个文件");
    const QString deviceFolder = QString::fromStdString(model->recentTransfers().first().deviceFolder);
    EXPECT_TRUE(deviceFolder.contains(QStringLiteral("小明的"))) << deviceFolder.toStdString();
    const QString body = receivedFilesBody(deviceFolder, 3, {"a.jpg", "b<i>.jpg", "c.txt"});
    const bool markup = GetParam().capabilities.contains(QStringLiteral("body-markup"));
    EXPECT_EQ(shown.body, markup ? escapedForNotificationMarkup(body) : body);
    EXPECT_EQ(shown.hints.value(QStringLiteral("category")).toString(), "transfer.complete");
    if (GetParam().capabilities.contains(QStringLiteral("actions"))) {
        EXPECT_EQ(keysOf(shown.actions), (QStringList{"default", "reveal"})); // no single file to open
        EXPECT_EQ(shown.actions.at(3), "在文件夹中显示");
    } else {
        EXPECT_TRUE(shown.actions.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, NotificationsOnEveryServer,
                         ::testing::Values(ServerKind{"ActionsAndMarkup", {"actions", "body", "body-markup"}},
                                           ServerKind{"PlainTextWithoutActions", {"body"}}),
                         [](const ::testing::TestParamInfo<ServerKind>& kind) { return std::string(kind.param.name); });

TEST_F(Notifications, ASecondDeviceGetsANotificationOfItsOwnAndNoneIsShownWhileSwitchedOff)
{
    start();
    whileProcessing([&] { return uploadLikeThePage(*model->port(), "Phone", {"a.txt"}); });
    whileProcessing([&] { return uploadLikeThePage(*model->port(), "Tablet", {"b.txt"}); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->recentTransfers().size() == 2 && settled(); }, 5000));
    EXPECT_EQ(distinctIDs().size(), 2);
    // A file from the first device later on, while its notification is still up, joins it.
    whileProcessing([&] { return uploadLikeThePage(*model->port(), "Phone", {"c.txt"}); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->recentTransfers().size() == 3 && settled(); }, 5000));
    EXPECT_EQ(distinctIDs().size(), 2);
    EXPECT_EQ(server->notifications().last().summary, "收到 2 个文件");

    preferences->setNotificationsEnabled(false);
    const auto shown = server->notifications().size();
    whileProcessing([&] { return uploadLikeThePage(*model->port(), "Laptop", {"d.txt"}); });
    model->setRequireReceiveConfirmation(true);
    auto reply = std::async(std::launch::async,
                            [port = *model->port()] { return uploadLikeThePage(port, "Laptop", {"e.txt"}); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->confirmations().confirmationQueue().isEmpty(); }, 5000));
    notifications->questionArrived(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->recentTransfers().size() == 4 && settled(); }, 5000));
    EXPECT_EQ(server->notifications().size(), shown);
    model->rejectAllConfirmations();
    reply.wait();
}

TEST_F(Notifications, ActionsOpenOrRevealTheFileTheyName)
{
    start();
    for (const auto& [name, opens] : {std::pair{"notes.txt", true}, std::pair{"run.sh", false}}) {
        SCOPED_TRACE(name);
        opened.clear();
        revealed.clear();
        whileProcessing([&] {
            return sendRequest(
                *model->port(),
                buildRequest("POST", std::string("/v1/upload?filename=") + name + "&device=" + name, "", "hello\n"));
        });
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return model->recentTransfers().first().fileName == name && settled(); }, 5000));
        const auto shown = server->notifications().last();
        const QString path = QString::fromStdString(model->recentTransfers().first().fileURL.string());
        EXPECT_EQ(keysOf(shown.actions).contains(QStringLiteral("open")), opens);
        server->invokeAction(shown.id, QStringLiteral("open"));
        server->invokeAction(shown.id, QStringLiteral("reveal"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return revealed.size() == 1; }, 5000));
        EXPECT_EQ(revealed, QStringList{path});
        EXPECT_EQ(opened, opens ? QStringList{path} : QStringList{});
        server->invokeAction(shown.id, QStringLiteral("default"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return windowShown > 0; }, 5000));
        windowShown = 0;
    }
}

// The answer a notification gives, for each kind of question.
struct QuestionAnswer
{
    const char* name;
    const char* actionKey;
    bool duplicate;
    int preflightStatus; // for a receive question
};

class QuestionsFromNotifications : public Notifications, public ::testing::WithParamInterface<QuestionAnswer>
{};

TEST_P(QuestionsFromNotifications, AnAnswerReachesTheWaitingUpload)
{
    start();
    const auto& answer = GetParam();
    std::future<HttpReply> reply;
    if (answer.duplicate) {
        const auto first = whileProcessing([&] {
            return sendRequest(*model->port(),
                               buildRequest("POST", "/v1/upload?filename=same.txt&device=Phone", "", "one"));
        });
        ASSERT_EQ(first.status, 200);
        reply = std::async(std::launch::async, [port = *model->port()] {
            return sendRequest(port, buildRequest("POST", "/v1/upload?filename=same.txt&device=Phone", "", "two"));
        });
        ASSERT_TRUE(QTest::qWaitFor([&] { return model->duplicates().duplicateQueue().size() == 1; }, 5000));
    } else {
        model->setRequireReceiveConfirmation(true);
        reply = std::async(std::launch::async, [port = *model->port()] {
            return uploadLikeThePage(port, "小明的 iPhone", {"a.jpg", "b.jpg"});
        });
        ASSERT_TRUE(QTest::qWaitFor([&] { return model->confirmations().confirmationQueue().size() == 2; }, 5000));
    }
    notifications->questionArrived(true); // the user is at the window: the dialog is enough
    ASSERT_TRUE(settled());
    const auto before = server->notifications().size();
    notifications->questionArrived(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->notifications().size() > before && settled(); }, 5000));
    const auto question = server->notifications().last();
    EXPECT_EQ(question.expireTimeout, 0); // it waits as long as the upload does
    if (answer.duplicate) {
        EXPECT_EQ(question.summary, "文件已存在");
        EXPECT_EQ(question.actions, (QStringList{"default", "显示", "keep-both", "保留两者", "reject", "拒绝"}));
    } else {
        EXPECT_EQ(question.summary, "是否接收 2 个文件？");
        EXPECT_EQ(question.body, "a.jpg、b.jpg\n来源：小明的 iPhone");
        EXPECT_EQ(question.actions, (QStringList{"default", "显示", "accept", "接收", "reject", "拒绝"}));
    }

    server->invokeAction(question.id, QString::fromLatin1(answer.actionKey));
    ASSERT_TRUE(arrives(reply));
    const auto answered = reply.get();
    if (answer.duplicate) {
        const bool kept = QString::fromLatin1(answer.actionKey) == QLatin1String("keep-both");
        EXPECT_EQ(answered.status == 200, kept);
        EXPECT_EQ(std::filesystem::exists(model->saveDirectory().toStdString() + "/Phone/same-1.txt"), kept);
    } else {
        EXPECT_EQ(answered.status, answer.preflightStatus);
    }
    // The answer reaches the phone and the close reaches the notification server by different ways.
    EXPECT_TRUE(QTest::qWaitFor([&] { return server->closedByClient().contains(question.id); }, 5000));
    EXPECT_TRUE(model->confirmations().confirmationQueue().isEmpty());
    EXPECT_TRUE(model->duplicates().duplicateQueue().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Answers, QuestionsFromNotifications,
                         ::testing::Values(QuestionAnswer{"Accept", "accept", false, 200},
                                           QuestionAnswer{"Reject", "reject", false, 403},
                                           QuestionAnswer{"KeepBoth", "keep-both", true, 0},
                                           QuestionAnswer{"RejectDuplicate", "reject", true, 0}),
                         [](const ::testing::TestParamInfo<QuestionAnswer>& answer) {
                             return std::string(answer.param.name);
                         });

TEST_F(Notifications, AQuestionAnsweredInTheDialogTakesItsNotificationAway)
{
    start();
    model->setRequireReceiveConfirmation(true);
    auto reply =
        std::async(std::launch::async, [port = *model->port()] { return uploadLikeThePage(port, "Phone", {"a.jpg"}); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->confirmations().confirmationQueue().isEmpty(); }, 5000));
    notifications->questionArrived(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->openNotifications().size() == 1 && settled(); }, 5000));
    const auto question = server->openNotifications().first();
    EXPECT_EQ(question.summary, "是否接收文件？");
    // A stale answer (for another question than the one shown) does nothing.
    server->invokeAction(question.id + 100, QStringLiteral("accept"));
    model->confirmations().respondToCurrentConfirmation(true); // the dialog's "接收"
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->openNotifications().isEmpty(); }, 5000));
    ASSERT_TRUE(arrives(reply));
    EXPECT_EQ(reply.get().status, 200);
}

// MARK: With dunst, the real daemon

class NotificationsWithDunst : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists("/usr/bin/dunst") || !std::filesystem::exists("/usr/bin/Xvfb")) {
            GTEST_SKIP() << "dunst and Xvfb are not installed (scripts/install-deps.sh installs them)";
        }
        ASSERT_TRUE(display.isRunning());
        ASSERT_TRUE(bus.isRunning());
        dunst = std::make_unique<Dunst>(bus, display);
        ASSERT_TRUE(dunst->isRunning());
        setUpApplicationIdentity();
        ReceiverConfiguration configuration;
        configuration.preferredPort = 0;
        app = std::make_unique<FerryLanternApp>(
            configuration, DesktopPresence{.notificationBus = bus.connect(QStringLiteral("application")),
                                           .trayAvailable = [] { return false; },
                                           .notificationActions = {},
                                           .autostartEntryPath = {}});
        app->mainWindow().setAllowReceive(true); // receiving, the window not shown: the user is elsewhere
        ASSERT_TRUE(QTest::qWaitFor([&] { return model().isRunning(); }, 5000));
    }

    void TearDown() override
    {
        if (app) {
            model().rejectAllConfirmations();
            EXPECT_TRUE(model().shutDown(std::chrono::seconds(5)));
            app.reset();
        }
    }

    TransferReceiverModel& model() { return app->mainWindow().model(); }

    ScopedHome home;
    VirtualDisplay display;
    PrivateSessionBus bus;
    std::unique_ptr<Dunst> dunst;
    std::unique_ptr<FerryLanternApp> app;
};

// Three files from the page are exactly one notification naming the device; then a question, accepted in
// its notification, answers the upload and closes the dialog.
TEST_F(NotificationsWithDunst, ShowTheFilesOfABatchAsOneAndAnswerAQuestion)
{
    const auto batch = whileProcessing([port = *model().port()] {
        return uploadLikeThePage(port, "小明的 iPhone", {"IMG_0001.HEIC", "IMG_0002.HEIC", "notes.txt"});
    });
    EXPECT_EQ(batch.status, 200);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !app->desktopNotifications().isBusy(); }, 5000));
    EXPECT_EQ(dunst->displayedCount(), 1);
    const auto history = dunst->closeAllAndListHistory();
    ASSERT_EQ(history.size(), 1);
    EXPECT_EQ(history.first().first, "收到 3 个文件");
    EXPECT_EQ(history.first().second, "来自：小明的 iPhone\nIMG_0001.HEIC、IMG_0002.HEIC、notes.txt");

    model().setRequireReceiveConfirmation(true);
    auto upload = std::async(std::launch::async, [port = *model().port()] {
        return uploadLikeThePage(port, "Phone <b>", {"a.jpg", "b.jpg", "c.jpg"});
    });
    auto* alerts = app->mainWindow().alerts();
    // The question brings the window to the front with its dialog, and becomes a notification.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return alerts->currentDialog() != nullptr && dunst->displayedCount() == 1; }, 10000));
    dunst->invokeAction(QStringLiteral("接收"), QStringLiteral("是否接收 3 个文件？"));
    ASSERT_TRUE(arrives(upload));
    EXPECT_EQ(upload.get().status, 200);
    EXPECT_EQ(model().recentTransfers().size(), 6); // the three of the batch before and these three
    EXPECT_EQ(alerts->currentDialog(), nullptr);
}

} // namespace
} // namespace ferrylantern::test
