// The model's lifecycle, lists and history file, driving a real server over 127.0.0.1 inside the event loop.
#include "receiver/TransferHistoryStore.h"
#include "tests/receiver/ReceiverFixture.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

namespace ferrylantern::test {
namespace {

// Qt's model checker watches every signal of the list from here on; it only reads, but wants a
// non-const model.
std::unique_ptr<QAbstractItemModelTester> checkedModel(const QAbstractItemModel& list)
{
    return std::make_unique<QAbstractItemModelTester>(const_cast<QAbstractItemModel*>(&list),
                                                      QAbstractItemModelTester::FailureReportingMode::Fatal);
}

class ModelLifecycle : public ReceiverTest
{
protected:
    void SetUp() override { model = makeModel(); }
};

// An upload begun before the stop is counted in the status and can still be cancelled.
TEST_F(ModelLifecycle, StartsOneServerAndAStopEndsItEvenDuringAStartOrAnUpload)
{
    QSignalSpy running(model.get(), &TransferReceiverModel::isRunningChanged);
    model->start();
    model->start();
    EXPECT_TRUE(model->isStarting());
    EXPECT_EQ(model->statusText(), "未启动");
    ASSERT_TRUE(waitFor([&] { return model->isRunning(); }));
    model->start();
    EXPECT_EQ(running.count(), 1);
    const auto port = *model->port();
    EXPECT_EQ(model->statusText(), "正在接收 · 端口 " + QString::number(port));
    EXPECT_EQ(model->localAccessURL(), QStringLiteral("http://127.0.0.1:%1/").arg(port));
    EXPECT_EQ(sendRequest(port, buildRequest("GET", "/v1/info")).status, 200);
    TestConnection upload(port);
    upload.send("POST /v1/upload?filename=big.bin&device=Phone HTTP/1.1\r\nContent-Length: 10000000\r\n\r\n" +
                std::string(300000, 'x'));
    ASSERT_TRUE(waitFor([&] { return !model->activeReceives().isEmpty(); }));

    model->stop();
    EXPECT_FALSE(model->port());
    EXPECT_FALSE(model->accessURL());
    EXPECT_FALSE(model->localAccessURL());
    EXPECT_EQ(model->statusText(), "已停止 · 还在完成 1 个传输");
    EXPECT_FALSE(TestConnection(port).isConnected());
    QSignalSpy failed(model.get(), &TransferReceiverModel::uploadFailed);
    model->cancelReceive(model->activeReceives().first().id);
    ASSERT_TRUE(failed.wait(5000));
    EXPECT_EQ(model->statusText(), "未启动");
    EXPECT_TRUE(std::filesystem::is_empty(model->saveDirectory().toStdString() + "/Phone"));

    QSignalSpy finished(model.get(), &TransferReceiverModel::startFinished);
    model->start();
    model->stop();
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_FALSE(model->isRunning());
    EXPECT_FALSE(model->httpServer());
}

TEST_F(ModelLifecycle, ASilentUploadIsMarkedStalledOnItsRowUntilBytesFlowAgain)
{
    auto now = std::chrono::steady_clock::time_point{};
    ActiveReceiveListModel list(nullptr, [&now] { return now; });
    const auto tester = checkedModel(list);
    const auto quiet = Uuid::random();
    const auto asking = Uuid::random();
    const auto busy = Uuid::random();
    for (const auto& id : {quiet, asking, busy}) {
        list.apply(UploadStarted{id, "a.bin", "Phone", 100});
    }
    const auto waitsForDesktop = [&](const Uuid& id) { return id == asking; };
    now += std::chrono::seconds(19);
    list.apply(UploadUpdated{busy, 10});
    list.markStalledRows(std::chrono::seconds(20), waitsForDesktop);
    EXPECT_FALSE(list.receives()[0].isStalled);
    now += std::chrono::seconds(1);
    QSignalSpy changes(&list, &QAbstractItemModel::dataChanged);
    list.markStalledRows(std::chrono::seconds(20), waitsForDesktop);
    ASSERT_EQ(changes.count(), 1) << "the row's view is told";
    EXPECT_TRUE(list.receives()[0].isStalled);
    EXPECT_FALSE(list.receives()[1].isStalled) << "waiting for the desktop user is not the phone's silence";
    EXPECT_FALSE(list.receives()[2].isStalled);

    list.apply(UploadUpdated{quiet, 50}); // the phone came back: progress from where it stopped
    EXPECT_FALSE(list.receives()[0].isStalled);
    EXPECT_EQ(list.receives()[0].bytesReceived, 50);
    now += std::chrono::seconds(20);
    list.markStalledRows(std::chrono::seconds(20), [](const Uuid&) { return false; });
    EXPECT_TRUE(list.receives()[1].isStalled) << "its time started again when the question was answered";
}

// Over a real server: a dropped connection keeps the row, which says it waits for the phone, and a
// resume continues the same row to its end.
TEST_F(ModelLifecycle, AResumedUploadContinuesOnItsRowAfterWaitingForThePhone)
{
    ReceiverConfiguration configuration;
    configuration.preferences = scope;
    configuration.preferredPort = 0;
    configuration.stalledAfter = std::chrono::milliseconds(100);
    model = std::make_unique<TransferReceiverModel>(configuration);
    startAndWait(*model);
    const std::string content(3 << 20, 'r');
    const auto preflight = requestWhileProcessing(
        *model, buildRequest("POST", "/v1/upload/preflight?filename=r.bin&byteCount=" + std::to_string(content.size()) +
                                         "&device=Phone"));
    ASSERT_EQ(preflight.status, 200) << preflight.body;
    const std::string ticket = nlohmann::json::parse(preflight.body)["uploadId"];
    const std::string target = "/v1/upload?filename=r.bin&device=Phone&uploadId=" + ticket;
    std::thread([port = *model->port(), target, half = content.substr(0, content.size() / 2), &content] {
        TestConnection connection(port);
        connection.send("POST " + target + " HTTP/1.1\r\nContent-Length: " + std::to_string(content.size()) +
                        "\r\n\r\n" + half);
        connection.abort();
    }).join();
    ASSERT_TRUE(waitFor([&] { return model->activeReceives().size() == 1 && model->activeReceives()[0].isStalled; }));
    // The server has let go of the connection: the upload is kept, waiting.
    ASSERT_TRUE(waitFor([&] { return model->httpServer()->activeConnectionCount() == 0; }));

    const auto position = requestWhileProcessing(*model, buildRequest("GET", "/v1/upload/resume?uploadId=" + ticket));
    const auto offset = nlohmann::json::parse(position.body)["offset"].get<std::size_t>();
    QSignalSpy removed(&model->activeReceiveList(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(&model->activeReceiveList(), &QAbstractItemModel::rowsInserted);
    const auto rest = requestWhileProcessing(
        *model, buildRequest("POST", target + "&offset=" + std::to_string(offset), "", content.substr(offset)));
    ASSERT_EQ(rest.status, 200) << rest.body;
    ASSERT_TRUE(waitFor([&] { return model->recentTransfers().size() == 1; }));
    EXPECT_EQ(inserted.count(), 0) << "the same row went on";
    EXPECT_EQ(removed.count(), 1);
    EXPECT_EQ(model->recentTransfers()[0].byteCount, static_cast<std::int64_t>(content.size()));
}

TEST_F(ModelLifecycle, CallbacksAnswerForAModelThatIsGone)
{
    const auto callbacks = model->serverCallbacks();
    model.reset();
    auto [confirm, confirmWaiter] = makeOneShotReply<bool>(true);
    auto [duplicate, duplicateWaiter] = makeOneShotReply<DuplicateFileResolution>(DuplicateFileResolution::cancel);
    std::thread server([&] {
        callbacks.confirmBeforeSave({Uuid::random(), "a", "b", 1}, confirm);
        callbacks.resolveDuplicateFile({Uuid::random(), "a", "b", "/x"}, duplicate);
        callbacks.onFileReceived({Uuid::random(), "late", 1, std::chrono::system_clock::now(), "/tmp/late", "P"});
    });
    server.join();
    EXPECT_FALSE(confirmWaiter.wait());
    EXPECT_EQ(duplicateWaiter.wait(), DuplicateFileResolution::keepCopy);
}

// What the desktop shares is listed and downloaded, with the downloads in flight as rows; the server's own tests
// cover the answers themselves.
TEST_F(ModelLifecycle, SharesAreListedDownloadedAndEndedFromTheModel)
{
    startAndWait(*model);
    const auto shares = checkedModel(model->sharedItemList());
    const auto downloads = checkedModel(model->activeDownloadList());
    const std::string content(3 * 1024 * 1024, 'z');
    const auto path = home.path() / "视频.mp4";
    std::ofstream(path, std::ios::binary) << content;
    EXPECT_TRUE(model->shareFiles({QString::fromStdString(path.string())}).isEmpty());
    EXPECT_EQ(model->shareText(QStringLiteral("   ")), QStringLiteral("文字为空"));
    EXPECT_EQ(model->shareText(QString(65537, QLatin1Char('x'))), QStringLiteral("文字过长，最多 64 KiB"));
    EXPECT_FALSE(model->shareText(QStringLiteral("门禁密码 4821")));
    const auto failures = model->shareFiles({QString::fromStdString(home.path().string()), "/no/such/file"});
    EXPECT_EQ(failures, (QStringList{QString::fromStdString(home.path().filename().string()) +
                                         "：只能分享文件，不能分享文件夹或已不存在的文件",
                                     "file：只能分享文件，不能分享文件夹或已不存在的文件"}));
    ASSERT_EQ(model->sharedItemList().rowCount(), 2);
    const auto file = model->sharedItemList().items().at(0);

    QSignalSpy ended(model.get(), &TransferReceiverModel::downloadEnded);
    const auto download =
        requestWhileProcessing(*model, buildRequest("GET", "/v1/shared/" + file.id.text() + "?device=Phone"));
    EXPECT_TRUE(download.body == content);
    ASSERT_TRUE(waitFor([&] { return ended.count() == 1; }));
    EXPECT_TRUE(model->activeDownloadList().downloads().isEmpty());
    const auto progress = ended.first().at(0).value<TransferSendProgress>();
    EXPECT_TRUE(ended.first().at(1).toBool());
    EXPECT_EQ(progress.shareID, file.id);
    EXPECT_EQ(progress.deviceFolder, "Phone");
    EXPECT_EQ(progress.bytesSent, static_cast<std::int64_t>(content.size()));

    // Gone from the disk: the phone gets 404 and the row says so.
    std::filesystem::remove(path);
    QSignalSpy changed(&model->sharedItemList(), &QAbstractItemModel::dataChanged);
    EXPECT_EQ(requestWhileProcessing(*model, buildRequest("GET", "/v1/shared/" + file.id.text())).status, 404);
    ASSERT_TRUE(waitFor([&] { return changed.count() == 1; }));
    EXPECT_TRUE(model->sharedItemList().index(0).data(SharedItemListModel::missingRole).toBool());

    model->removeShare(file.id);
    EXPECT_EQ(model->sharedItemList().rowCount(), 1);
    EXPECT_EQ(requestWhileProcessing(*model, buildRequest("GET", "/v1/shared/" + file.id.text())).status, 404);
}

// The history file: what a restart finds of the finished transfers.
class TransferHistory : public ReceiverTest
{
protected:
    QString historyFile =
        QString::fromStdString((home.path() / "data" / "FerryLantern" / "recent-transfers.json").string());

    // A record of a file that really exists in the save folder.
    ReceivedFileRecord savedFile(const std::string& name, const std::string& device = "Phone")
    {
        const auto path = home.path() / "Downloads" / device / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << name;
        const auto receivedAt =
            std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
        return {Uuid::random(), name, static_cast<std::int64_t>(name.size()), receivedAt, path, device};
    }

    std::string storedBytes() const
    {
        std::ifstream in(historyFile.toStdString());
        return {std::istreambuf_iterator<char>(in), {}};
    }

    void restart()
    {
        model->flushHistory();
        model.reset();
        model = makeModel(historyFile);
    }
};

TEST_F(TransferHistory, AnUploadShowsInFlightThenAsARecordThatARestartFindsWithATextBesideIt)
{
    model = makeModel(historyFile);
    startAndWait(*model);
    QSignalSpy appeared(&model->activeReceiveList(), &QAbstractItemModel::rowsInserted);
    QSignalSpy went(&model->activeReceiveList(), &QAbstractItemModel::rowsRemoved);
    const auto reply =
        requestWhileProcessing(*model, buildRequest("POST", "/v1/upload?filename=a.txt&device=Phone", "", "hello"));
    ASSERT_EQ(reply.status, 200);
    ASSERT_TRUE(waitFor([&] { return model->recentTransfers().size() == 1; }));
    EXPECT_EQ(appeared.count(), 1);
    EXPECT_EQ(went.count(), 1);
    EXPECT_EQ(model->recentTransfers().first().fileName, "a.txt");
    EXPECT_EQ(nlohmann::json::parse(reply.body)["id"], model->recentTransfers().first().id.text());

    const ReceivedTextRecord note{Uuid::random(), "line one\nline two 🚀",
                                  std::chrono::system_clock::time_point(std::chrono::milliseconds(1700000000123)),
                                  "Tablet"};
    model->handleTextReceived(note);
    // Written shortly after the last change, without anything asking for it.
    ASSERT_TRUE(waitFor([&] { return storedBytes().find(note.id.text()) != std::string::npos; }));
    const auto upload = model->recentTransfers().at(1);
    ASSERT_TRUE(model->shutDown(std::chrono::seconds(5)));
    model.reset();
    model = makeModel(historyFile);
    ASSERT_EQ(model->recentTransfers().size(), 2);
    const auto& text = model->recentTransfers().at(0);
    EXPECT_EQ(std::tie(text.text, text.id, text.receivedAt, text.deviceFolder),
              std::tie(note.text, note.id, note.receivedAt, note.deviceFolder));
    EXPECT_EQ(model->recentTransfers().at(1).id, upload.id);
    EXPECT_EQ(std::chrono::time_point_cast<std::chrono::milliseconds>(upload.receivedAt),
              model->recentTransfers().at(1).receivedAt);
    EXPECT_FALSE(model->recentTransferList().isMissing(1));
    EXPECT_FALSE(model->damagedHistoryFile());
}

TEST_F(TransferHistory, KeepsTheNewestHundredOneRowAtATimeWritesABurstOnceAndClears)
{
    model = makeModel(historyFile);
    auto tester = checkedModel(model->recentTransferList());
    QSignalSpy inserted(&model->recentTransferList(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model->recentTransferList(), &QAbstractItemModel::rowsRemoved);
    for (int i = 1; i <= 101; ++i) {
        model->handleFileReceived(savedFile("file" + std::to_string(i)));
    }
    EXPECT_EQ(inserted.count(), 101);
    EXPECT_EQ(removed.count(), 1); // the oldest, once the hundred were full
    EXPECT_EQ(model->recentTransfers().size(), 100);
    EXPECT_FALSE(std::filesystem::exists(historyFile.toStdString())); // not once per file
    tester.reset();
    restart();
    ASSERT_EQ(model->recentTransfers().size(), 100);
    EXPECT_EQ(model->recentTransfers().first().fileName, "file101");
    EXPECT_EQ(model->recentTransfers().last().fileName, "file2");

    model->clearRecentTransfers();
    restart();
    EXPECT_TRUE(model->recentTransfers().isEmpty());
    EXPECT_TRUE(std::filesystem::exists(home.path() / "Downloads" / "Phone" / "file101")); // the file stays
}

// Found gone at a restart (the window's own test covers a file that goes while it runs).
TEST_F(TransferHistory, FilesThatHaveGoneAreFlaggedAndCanBeRemoved)
{
    model = makeModel(historyFile);
    const auto kept = savedFile("kept.txt");
    const auto deletedWhileStopped = savedFile("gone-before.txt");
    for (const auto& record : {kept, deletedWhileStopped}) {
        model->handleFileReceived(record);
    }
    model->flushHistory();
    model.reset();
    std::filesystem::remove(deletedWhileStopped.fileURL);
    model = makeModel(historyFile);
    const auto tester = checkedModel(model->recentTransferList());
    const auto& list = model->recentTransferList();
    ASSERT_EQ(list.rowCount(), 2); // newest first
    EXPECT_EQ(list.index(0).data(RecentTransferListModel::missingRole).toBool(), true);
    EXPECT_FALSE(list.isMissing(1));

    model->removeRecentTransfer(deletedWhileStopped.id);
    model->removeRecentTransfer(deletedWhileStopped.id); // already gone: nothing
    ASSERT_EQ(list.rowCount(), 1);
    model->flushHistory();
    EXPECT_EQ(storedBytes().find("gone-before.txt"), std::string::npos);
    EXPECT_NE(storedBytes().find("kept.txt"), std::string::npos);
}

TEST_F(TransferHistory, ADamagedFileIsSetAsideAndNeverBlocksTheStart)
{
    const std::string sound = TransferHistoryStore::encode({savedFile("a.txt")}).toStdString();
    // One record in an otherwise sound file, with `fields` in place of the usual ones.
    const auto withRecord = [](const std::string& fields) {
        return R"({"version":1,"transfers":[{"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3301","receivedAtMs":0,)" + fields +
               "}]}";
    };
    const std::string file = R"("fileName":"a","filePath":"/tmp/a","deviceFolder":"P",)";
    const std::pair<const char*, std::string> damaged[] = {
        {"not JSON", "\x01\x02 not a history"},
        {"cut off", sound.substr(0, sound.size() / 2)},
        {"an array", "[]"},
        {"another version", R"({"version": 99, "transfers": []})"},
        {"transfers not a list", R"({"version": 1, "transfers": {}})"},
        {"a record without its size", withRecord(R"("fileName":"a","filePath":"/tmp/a","deviceFolder":"P")")},
        {"a size that is not a whole number", withRecord(file + R"("byteCount":1.5)")},
        {"an id that is not a UUID",
         R"({"version":1,"transfers":[{"id":"../../x","receivedAtMs":0,)" + file + R"("byteCount":1}]})"},
        {"a text that is not a string", withRecord(R"("fileName":"","filePath":"","deviceFolder":"P","byteCount":1,)"
                                                   R"("text":5)")},
        {"a file record without a file", withRecord(R"("fileName":"","filePath":"","deviceFolder":"P","byteCount":1)")},
    };
    std::filesystem::create_directories(std::filesystem::path(historyFile.toStdString()).parent_path());
    for (const auto& [name, bytes] : damaged) {
        SCOPED_TRACE(name);
        std::ofstream(historyFile.toStdString(), std::ios::binary | std::ios::trunc) << bytes;
        model = makeModel(historyFile);
        EXPECT_TRUE(model->recentTransfers().isEmpty());
        ASSERT_TRUE(model->damagedHistoryFile());
        EXPECT_FALSE(std::filesystem::exists(historyFile.toStdString()));
        std::ifstream aside(model->damagedHistoryFile()->toStdString(), std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(aside), {}), bytes);
        std::filesystem::remove(model->damagedHistoryFile()->toStdString());
    }
    model = makeModel(historyFile);
    EXPECT_FALSE(model->damagedHistoryFile());
    startAndWait(*model);
    EXPECT_TRUE(model->isRunning());
    model->handleFileReceived(savedFile("after.txt"));
    model->flushHistory();
    EXPECT_NE(storedBytes().find("after.txt"), std::string::npos);
}

} // namespace
} // namespace ferrylantern::test
