// Desktop notifications against a real notification daemon, dunst, on a private session bus and Xvfb, with
// uploads made the way the page makes them, over loopback, to the application.
#include "tests/support/HttpTestClient.h"
#include "tests/ui/DesktopServices.h"
#include "tests/ui/ViewTestSupport.h"
#include "ui/ConfirmationAlerts.h"
#include "ui/ContentView.h"
#include "ui/DesktopNotifications.h"
#include "ui/FerryLanternApp.h"
#include "ui/NotificationTexts.h"

#include <QAbstractButton>
#include <QMessageBox>
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
        bool runnable; // its permissions say so
        bool safe;
    } files[] = {
        {"photo.jpg", "\xFF\xD8\xFF\xE0 jpeg", false, true},
        {"notes.txt", "hello", false, true},
        {"install.desktop", "[Desktop Entry]\nType=Application\nExec=sh\n", false, false},
        {"run.sh", "#!/bin/sh\necho hi\n", false, false},
        {"cat.jpg", std::string("\177ELF\2\1\1") + std::string(64, '\0'), false, false},
        {"also-notes.txt", "hello", true, false},
    };
    for (const auto& file : files) {
        std::ofstream(folder.path() / file.name) << file.content;
        if (file.runnable) {
            std::filesystem::permissions(folder.path() / file.name, std::filesystem::perms::owner_exec,
                                         std::filesystem::perm_options::add);
        }
        EXPECT_EQ(isSafeToOpenDirectly(QString::fromStdString((folder.path() / file.name).string())), file.safe)
            << file.name;
    }
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
    EXPECT_EQ(escapedForNotificationMarkup(QStringLiteral("<b>R&D</b> \"x\"")), "&lt;b&gt;R&amp;D&lt;/b&gt; \"x\"");
}

// MARK: With dunst

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

class Notifications : public ::testing::Test
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
            configuration,
            DesktopPresence{.notificationBus = bus.connect(QStringLiteral("application")),
                            .trayAvailable = [] { return false; },
                            .notificationActions = {.showWindow = [this] { ++windowShown; },
                                                    .openFile = [this](const QString& path) { opened << path; },
                                                    .revealFile = [this](const QString& path) { revealed << path; }},
                            .autostartEntryPath = {}});
        app->mainWindow().setAllowReceive(true); // receiving, the window not shown: the user is elsewhere
        ASSERT_TRUE(QTest::qWaitFor([&] { return model().isRunning(); }, 5000));
    }

    void TearDown() override
    {
        if (app) {
            model().rejectAllConfirmations();
            model().duplicates().resolveAllDuplicates(DuplicateFileResolution::cancel);
            EXPECT_TRUE(model().shutDown(std::chrono::seconds(5)));
            app.reset();
        }
    }

    TransferReceiverModel& model() { return app->mainWindow().model(); }

    // Whether dunst shows `count` notifications once the application has sent everything.
    bool shows(int count)
    {
        return QTest::qWaitFor(
            [&] { return !app->desktopNotifications().isBusy() && dunst->displayedCount() == count; }, 5000);
    }

    // `device` sends `names` the way the page does, on another thread.
    std::future<HttpReply> send(const std::string& device, const std::vector<std::string>& names)
    {
        return std::async(std::launch::async,
                          [port = *model().port(), device, names] { return uploadLikeThePage(port, device, names); });
    }

    // The status of an upload once it has arrived, the event loop turning meanwhile.
    static int statusOf(std::future<HttpReply> upload) { return arrives(upload) ? upload.get().status : 0; }

    ScopedHome home;
    VirtualDisplay display;
    PrivateSessionBus bus;
    std::unique_ptr<Dunst> dunst;
    std::unique_ptr<FerryLanternApp> app;
    int windowShown = 0;
    QStringList opened;
    QStringList revealed;
};

// One notification per device, updated as its files arrive, names shown as the characters they are. Its
// actions show the window, open the file (only one that is safe to open) or reveal it.
TEST_F(Notifications, FilesAreOneNotificationPerDeviceAndQuestionsWaitInOneUntilAnswered)
{
    ASSERT_EQ(statusOf(send("小明的 <iPhone> & Co", {"IMG_0001.HEIC", "b<i>.jpg"})), 200);
    ASSERT_TRUE(shows(1));
    ASSERT_EQ(statusOf(send("Tablet", {"notes.txt"})), 200);
    ASSERT_TRUE(shows(2));
    // A file from the first device later on, while its notification is still up, joins it.
    ASSERT_EQ(statusOf(send("小明的 <iPhone> & Co", {"c.txt"})), 200);
    ASSERT_TRUE(shows(2));
    const QString folder = QString::fromStdString(model().recentTransfers().first().deviceFolder);
    EXPECT_TRUE(folder.contains(QStringLiteral("小明的 <iPhone>"))) << folder.toStdString();
    dunst->invokeAction(QStringLiteral("显示"), QStringLiteral("收到 3 个文件"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return windowShown == 1; }, 5000));
    dunst->invokeAction(QStringLiteral("打开"), QStringLiteral("收到文件"));
    const QString notes = model().saveDirectory() + QStringLiteral("/Tablet/notes.txt");
    EXPECT_TRUE(QTest::qWaitFor([&] { return opened == QStringList{notes}; }, 5000));

    // dunst lists what it was sent: the body escaped for its markup, names kept as the characters they are.
    const auto history = dunst->closeAllAndListHistory();
    EXPECT_TRUE(history.contains({QStringLiteral("收到文件"), QStringLiteral("来自：Tablet\nnotes.txt")}));
    const QString body = receivedFilesBody(folder, 3, {"IMG_0001.HEIC", "b<i>.jpg", "c.txt"});
    EXPECT_TRUE(history.contains({QStringLiteral("收到 3 个文件"), escapedForNotificationMarkup(body)}))
        << history.first().second.toStdString() << " / " << history.last().second.toStdString();

    ASSERT_EQ(statusOf(send("Script", {"run.sh"})), 200);
    ASSERT_TRUE(shows(1));
    const auto menu = dunst->invokeAction(QStringLiteral("在文件夹中显示"), QStringLiteral("收到文件"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return revealed == QStringList{model().saveDirectory() + QStringLiteral("/Script/run.sh")}; }, 5000));
    EXPECT_EQ(menu.size(), 2) << menu.join(QLatin1Char('|')).toStdString(); // no "打开"

    // Each question waits in a notification until it is answered there or in the dialog; with the user at
    // the window it is the dialog alone, and switched off nothing is shown.
    model().setRequireReceiveConfirmation(true);
    auto* alerts = app->mainWindow().alerts();
    const struct
    {
        std::vector<std::string> files;
        const char* summary;
        const char* answer; // an action's label; none: the dialog's "拒绝此项"
        int status;
        int shownAfter; // the received files' own notification
    } questions[] = {
        {{"a.jpg", "b.jpg"}, "是否接收 2 个文件？", "接收", 200, 1},
        {{"c.jpg"}, "是否接收文件？", "拒绝", 403, 0},
        {{"d.jpg"}, "是否接收文件？", nullptr, 403, 0},
    };
    for (const auto& question : questions) {
        SCOPED_TRACE(question.summary);
        app->mainWindow().hide(); // the user is elsewhere; the question brings the window back
        dunst->closeAllAndListHistory();
        auto upload = send("Phone", question.files);
        // The question brings the window to the front with its dialog, and becomes a notification.
        ASSERT_TRUE(QTest::qWaitFor([&] { return alerts->currentDialog() != nullptr; }, 5000));
        ASSERT_TRUE(shows(1));
        if (question.answer != nullptr) {
            dunst->invokeAction(QString::fromUtf8(question.answer), QString::fromUtf8(question.summary));
        } else {
            alerts->currentDialog()->buttons().at(2)->click();
        }
        EXPECT_EQ(statusOf(std::move(upload)), question.status);
        EXPECT_TRUE(shows(question.shownAfter));
        EXPECT_TRUE(QTest::qWaitFor([&] { return alerts->currentDialog() == nullptr; }, 5000));
    }

    // A file of the same name as one received: keeping both from the notification saves it beside.
    model().setRequireReceiveConfirmation(false);
    app->mainWindow().hide();
    dunst->closeAllAndListHistory();
    auto same = send("Phone", {"a.jpg"});
    ASSERT_TRUE(shows(1));
    dunst->invokeAction(QStringLiteral("保留两者"), QStringLiteral("文件已存在"));
    EXPECT_EQ(statusOf(std::move(same)), 200);
    EXPECT_TRUE(std::filesystem::exists(model().saveDirectory().toStdString() + "/Phone/a-1.jpg"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return alerts->currentDialog() == nullptr; }, 5000));

    model().setRequireReceiveConfirmation(true);
    app->mainWindow().show();
    app->mainWindow().activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return app->mainWindow().isActiveWindow(); }, 5000));
    dunst->closeAllAndListHistory();
    auto asked = send("Phone", {"e.txt"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return alerts->currentDialog() != nullptr; }, 5000));
    EXPECT_TRUE(shows(0));
    model().rejectAllConfirmations();
    EXPECT_TRUE(arrives(asked));

    UserPreferences::shared().setNotificationsEnabled(false);
    model().setRequireReceiveConfirmation(false);
    const auto before = model().recentTransfers().size();
    EXPECT_EQ(statusOf(send("Phone", {"f.txt"})), 200);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model().recentTransfers().size() == before + 1; }, 5000));
    EXPECT_TRUE(shows(0));
}

} // namespace
} // namespace ferrylantern::test
