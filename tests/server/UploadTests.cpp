// POST "/v1/upload" over real sockets: saving byte-identical files, tickets, questions, duplicates,
// multipart bodies, and every way an upload can fail without leaving anything behind. The upload tests
// run twice, once for each way a raw body can travel from the socket to the file (splice through a
// pipe, or read and write through a buffer); RawBodyReceiver's own tests see the switch from one to the
// other when the kernel refuses splice.
#include "server/PartialFile.h"
#include "server/RawBodyReceiver.h"
#include "tests/server/ServerFixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <thread>

namespace ferrylantern::test {
namespace {

using nlohmann::json;

std::string randomBytes(std::size_t size, unsigned seed = 1)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& byte : bytes) {
        byte = static_cast<char>(random());
    }
    return bytes;
}

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

// Every entry under `folder`, hidden partial files included, as paths relative to it.
std::vector<std::string> entriesUnder(const std::filesystem::path& folder)
{
    std::vector<std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            entries.push_back(std::filesystem::relative(entry.path(), folder).string());
        }
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

template <typename Event>
std::vector<Event> eventsOf(const std::vector<TransferUploadProgressEvent>& events)
{
    std::vector<Event> found;
    for (const auto& event : events) {
        if (const auto* match = std::get_if<Event>(&event)) {
            found.push_back(*match);
        }
    }
    return found;
}

class Upload : public ServerTest, public ::testing::WithParamInterface<RawBodyTransfer>
{
protected:
    void SetUp() override { startServer(std::nullopt, onThisBodyPath()); }

    ServerOptions onThisBodyPath(ServerOptions options = {}) const
    {
        options.rawBodyTransfer = GetParam();
        return options;
    }

    HttpReply upload(std::string_view query, std::string_view body, std::string_view headerLines = "")
    {
        return post("/v1/upload?" + std::string(query), body,
                    "Content-Type: application/octet-stream\r\n" + std::string(headerLines));
    }

    std::string ticketFor(std::string_view name, std::size_t size, std::string_view device = "Phone")
    {
        const auto reply = post("/v1/upload/preflight?filename=" + std::string(name) +
                                    "&byteCount=" + std::to_string(size) + "&device=" + std::string(device),
                                "");
        EXPECT_EQ(reply.status, 200) << reply.body;
        return json::parse(reply.body).value("uploadId", "");
    }

    std::filesystem::path phoneFolder() const { return saveFolder.path() / "Phone"; }

    // Sends the head and the first `sent` bytes of `body`, and leaves the connection open.
    std::unique_ptr<TestConnection> startUpload(std::string_view query, std::size_t totalSize, std::string_view sent)
    {
        auto connection = std::make_unique<TestConnection>(port);
        connection->send("POST /v1/upload?" + std::string(query) +
                         " HTTP/1.1\r\nContent-Length: " + std::to_string(totalSize) + "\r\n\r\n");
        connection->send(sent);
        return connection;
    }

    bool waitForStarted(std::size_t count)
    {
        return eventually([&] { return eventsOf<UploadStarted>(owner.events()).size() >= count; });
    }
};

TEST_P(Upload, SavesATicketedFileByteForByteAndReportsInOrder)
{
    const auto content = randomBytes(1 << 20);
    const auto ticket = ticketFor("song.flac", content.size());
    const auto reply = upload("filename=song.flac&device=Phone&uploadId=" + ticket, content);
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(reply.header("content-type"), "application/json");

    const auto saved = phoneFolder() / "song.flac";
    EXPECT_EQ(readFile(saved), content);
    EXPECT_EQ(entriesUnder(saveFolder.path()), std::vector<std::string>{"Phone/song.flac"});

    const auto answer = json::parse(reply.body);
    EXPECT_EQ(answer["fileName"], "song.flac");
    EXPECT_EQ(answer["byteCount"], content.size());
    EXPECT_EQ(answer["savedPath"], std::filesystem::absolute(saved).string());
    EXPECT_EQ(answer["deviceFolder"], "Phone");

    const auto events = owner.events();
    ASSERT_GE(events.size(), 3U);
    const auto& started = std::get<UploadStarted>(events.front());
    EXPECT_EQ(started.fileName, "song.flac");
    EXPECT_EQ(started.deviceFolder, "Phone");
    EXPECT_EQ(started.totalBytes, static_cast<std::int64_t>(content.size()));
    EXPECT_EQ(std::get<UploadUpdated>(events[events.size() - 2]).bytesReceived,
              static_cast<std::int64_t>(content.size()));
    EXPECT_TRUE(std::holds_alternative<UploadFinished>(events.back()));
    for (const auto& event : events) {
        EXPECT_EQ(uploadID(event), started.id);
    }

    const auto records = owner.records();
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(answer["id"], records[0].id.text());
    EXPECT_NE(records[0].id, started.id);
    EXPECT_NE(records[0].id.text(), ticket);
    EXPECT_EQ(records[0].fileURL, std::filesystem::absolute(saved));
    EXPECT_TRUE(owner.confirmations().empty());
}

TEST_P(Upload, ATicketWorksOnceAndOnlyForWhatWasApproved)
{
    const auto ticket = ticketFor("a.bin", 1000);
    const auto shortBody = upload("filename=a.bin&device=Phone&uploadId=" + ticket, randomBytes(999));
    EXPECT_EQ(shortBody.status, 403);
    EXPECT_EQ(shortBody.body, "上传许可无效或已过期");
    EXPECT_EQ(upload("filename=a.bin&device=Phone&uploadId=" + ticket, randomBytes(1000)).body, "上传许可无效或已过期");

    const auto renamed = ticketFor("a.bin", 10);
    EXPECT_EQ(upload("filename=b.bin&device=Phone&uploadId=" + renamed, randomBytes(10)).status, 403);
    const auto moved = ticketFor("a.bin", 10);
    EXPECT_EQ(upload("filename=a.bin&device=Tablet&uploadId=" + moved, randomBytes(10)).status, 403);
    EXPECT_EQ(upload("filename=a.bin&device=Phone&uploadId=not-a-uuid", randomBytes(10)).body, "上传许可无效或已过期");
    EXPECT_EQ(entriesUnder(saveFolder.path()), std::vector<std::string>{});
}

TEST_P(Upload, ExpiredTicketsAreRefused)
{
    const auto ticket = ticketFor("a.bin", 4);
    clock.advance(std::chrono::seconds(900));
    EXPECT_EQ(upload("filename=a.bin&device=Phone&uploadId=" + ticket, "abcd").status, 403);
}

TEST_P(Upload, WithoutTicketOrConfirmationTheFileIsSavedWithoutAQuestion)
{
    EXPECT_EQ(upload("filename=note.txt&device=Phone", "hello").status, 200);
    EXPECT_EQ(readFile(phoneFolder() / "note.txt"), "hello");
    EXPECT_TRUE(owner.confirmations().empty());
    EXPECT_TRUE(owner.duplicates().empty());
}

TEST_P(Upload, NamesComeFromQueryHeaderOrDisposition)
{
    EXPECT_EQ(post("/v1/upload?device=Phone", "1", "X-Filename: header.txt\r\n").status, 200);
    EXPECT_EQ(post("/v1/upload?device=Phone", "2", "Content-Disposition: attachment; filename=\"disp.txt\"\r\n").status,
              200);
    EXPECT_EQ(upload("filename=" + std::string("evil%00.txt") + "&device=Phone", "3").status, 200);
    const auto unnamed = json::parse(post("/v1/upload?device=Phone", "4").body);
    EXPECT_TRUE(unnamed["fileName"].get<std::string>().starts_with("upload-"));
    EXPECT_TRUE(std::filesystem::exists(phoneFolder() / "header.txt"));
    EXPECT_TRUE(std::filesystem::exists(phoneFolder() / "disp.txt"));
    EXPECT_TRUE(std::filesystem::exists(phoneFolder() / "evil_.txt"));
}

TEST_P(Upload, AVeryLongNameIsShortenedAndItsTicketStillMatches)
{
    const std::string name = std::string(300, 'n') + ".txt";
    const auto ticket = ticketFor(name, 3);
    const auto reply = upload("filename=" + name + "&device=Phone&uploadId=" + ticket, "abc");
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(json::parse(reply.body)["fileName"], std::string(251, 'n') + ".txt");
}

TEST_P(Upload, ADeviceNameThatTrimsToDotsKeepsTheFileInsideTheSaveFolder)
{
    // "x/%20.." is the device " .." once its last path component is taken; trimmed, that was "..",
    // and the file went into the save folder's parent.
    const std::string name = "escape-" + Uuid::random().text() + ".txt";
    const auto reply = upload("filename=" + name + "&device=x/%20..", "outside?");
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(json::parse(reply.body)["deviceFolder"], "unknown-device");
    const auto outside = saveFolder.path().parent_path() / name;
    EXPECT_FALSE(std::filesystem::exists(outside));
    std::filesystem::remove(outside); // should it be there, leave nothing in the shared folder
    EXPECT_EQ(entriesUnder(saveFolder.path()), std::vector<std::string>{"unknown-device/" + name});
}

TEST_P(Upload, AnEmptyBodyIsRefused)
{
    const auto reply = upload("filename=empty.txt&device=Phone", "");
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.body, "Upload failed: 未收到文件内容");
    EXPECT_EQ(eventsOf<UploadFailed>(owner.events()).size(), 1U);
}

TEST_P(Upload, AClientThatGoesAwayHalfwayLeavesNoFileAnywhere)
{
    const auto content = randomBytes(4 << 20);
    auto connection = startUpload("filename=big.bin&device=Phone", content.size(), content.substr(0, 1 << 20));
    ASSERT_TRUE(waitForStarted(1));
    connection->abort();
    ASSERT_TRUE(owner.waitForEvent([](const auto& event) { return std::holds_alternative<UploadFailed>(event); }));
    EXPECT_TRUE(eventually([&] { return server->activeConnectionCount() == 0; }));
    EXPECT_EQ(entriesUnder(saveFolder.path()), std::vector<std::string>{});
}

TEST_P(Upload, AClientThatStopsEarlyHearsTheBodyWasIncomplete)
{
    auto connection = startUpload("filename=cut.bin&device=Phone", 100, "only forty bytes of the hundred announced");
    connection->shutdownWrite();
    const auto reply = parseReply(connection->readAll());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 500);
    EXPECT_EQ(reply->body, "Upload failed: 上传中断，文件不完整");
    EXPECT_EQ(entriesUnder(saveFolder.path()), std::vector<std::string>{});
}

TEST_P(Upload, BytesThatCameWithTheHeadComeFirstAndTheRestFollowsInSteps)
{
    // Head and first bytes in one segment: the server reads them together, and must write those bytes
    // before anything that arrives later, whatever carries the rest.
    const auto content = randomBytes((3 << 20) + 17, 37);
    constexpr std::size_t withTheHead = 5000;
    TestConnection connection(port);
    connection.send("POST /v1/upload?filename=joined.bin&device=Phone HTTP/1.1\r\nContent-Length: " +
                    std::to_string(content.size()) + "\r\n\r\n" + content.substr(0, withTheHead));
    ASSERT_TRUE(waitForStarted(1));
    for (std::size_t at = withTheHead; at < content.size(); at += 100000) {
        ASSERT_TRUE(connection.send(std::string_view(content).substr(at, 100000)));
    }
    const auto reply = parseReply(connection.readAll());
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->status, 200) << reply->body;
    EXPECT_EQ(readFile(phoneFolder() / "joined.bin"), content);
    const auto updates = eventsOf<UploadUpdated>(owner.events());
    ASSERT_FALSE(updates.empty());
    EXPECT_EQ(updates.back().bytesReceived, static_cast<std::int64_t>(content.size()));
}

TEST_P(Upload, CancellingFromTheDesktopEndsTheUploadAndRemovesThePartialFile)
{
    auto connection = startUpload("filename=movie.mp4&device=Phone", 8 << 20, randomBytes(1 << 20));
    ASSERT_TRUE(waitForStarted(1));
    const auto id = eventsOf<UploadStarted>(owner.events()).front().id;
    server->cancelUpload(id);
    ASSERT_TRUE(owner.waitForEvent(
        [&](const auto& event) { return std::holds_alternative<UploadFailed>(event) && uploadID(event) == id; }));
    EXPECT_FALSE(parseReply(connection->readAll()).has_value()); // the answer went to a dead socket
    EXPECT_TRUE(eventually([&] { return server->activeConnectionCount() == 0; }));
    EXPECT_EQ(entriesUnder(saveFolder.path()), std::vector<std::string>{});
}

TEST_P(Upload, SameNameFilesAreKeptAsNumberedCopies)
{
    owner.autoDuplicate = DuplicateFileResolution::keepCopy;
    for (const auto* body : {"one", "two", "three"}) {
        EXPECT_EQ(upload("filename=photo.jpg&device=Phone", body).status, 200);
    }
    EXPECT_EQ(readFile(phoneFolder() / "photo.jpg"), "one");
    EXPECT_EQ(readFile(phoneFolder() / "photo-1.jpg"), "two");
    EXPECT_EQ(readFile(phoneFolder() / "photo-2.jpg"), "three");
    const auto questions = owner.duplicates();
    ASSERT_EQ(questions.size(), 2U);
    EXPECT_EQ(questions[0].fileName, "photo.jpg");
    EXPECT_EQ(questions[0].deviceFolder, "Phone");
    EXPECT_EQ(questions[0].existingFilePath, std::filesystem::absolute(phoneFolder() / "photo.jpg").string());
}

TEST_P(Upload, ACopyOfANameThatIsNearlyAllExtensionIsSaved)
{
    owner.autoDuplicate = DuplicateFileResolution::keepCopy;
    const std::string name = "a." + std::string(253, 'x');
    EXPECT_EQ(upload("filename=" + name + "&device=Phone", "one").status, 200);
    const auto copy = upload("filename=" + name + "&device=Phone", "two");
    ASSERT_EQ(copy.status, 200) << copy.body;
    EXPECT_EQ(json::parse(copy.body)["fileName"], "a-1." + std::string(251, 'x'));
    EXPECT_EQ(entriesUnder(saveFolder.path()).size(), 2U);
}

TEST_P(Upload, OverwriteReplacesAndCancelRefuses)
{
    EXPECT_EQ(upload("filename=doc.txt&device=Phone", "old").status, 200);
    owner.autoDuplicate = DuplicateFileResolution::overwrite;
    EXPECT_EQ(upload("filename=doc.txt&device=Phone", "new").status, 200);
    EXPECT_EQ(readFile(phoneFolder() / "doc.txt"), "new");

    owner.autoDuplicate = DuplicateFileResolution::cancel;
    const auto refused = upload("filename=doc.txt&device=Phone", "newest");
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(refused.body, "已取消保存");
    EXPECT_EQ(readFile(phoneFolder() / "doc.txt"), "new");
    EXPECT_EQ(entriesUnder(saveFolder.path()), std::vector<std::string>{"Phone/doc.txt"});
    EXPECT_EQ(eventsOf<UploadFailed>(owner.events()).size(), 1U);
}

TEST_P(Upload, AFailedOverwriteKeepsTheExistingFile)
{
    EXPECT_EQ(upload("filename=keep.txt&device=Phone", "precious").status, 200);
    owner.autoDuplicate = DuplicateFileResolution::overwrite;
    auto connection = startUpload("filename=keep.txt&device=Phone", 1 << 20, "partial replacement");
    ASSERT_TRUE(waitForStarted(2));
    connection->abort();
    ASSERT_TRUE(owner.waitForEvent([](const auto& event) { return std::holds_alternative<UploadFailed>(event); }));
    EXPECT_TRUE(eventually([&] { return server->activeConnectionCount() == 0; }));
    EXPECT_EQ(readFile(phoneFolder() / "keep.txt"), "precious");
    EXPECT_EQ(entriesUnder(saveFolder.path()), std::vector<std::string>{"Phone/keep.txt"});
}

TEST_P(Upload, TwoSameNameUploadsAtOnceNeverShareADestination)
{
    const auto first = randomBytes(300000, 1);
    const auto second = randomBytes(300000, 2);
    auto a = startUpload("filename=same.bin&device=Phone", first.size(), first.substr(0, 1000));
    auto b = startUpload("filename=same.bin&device=Phone", second.size(), second.substr(0, 1000));
    ASSERT_TRUE(waitForStarted(2));
    a->send(first.substr(1000));
    b->send(second.substr(1000));
    EXPECT_EQ(parseReply(a->readAll())->status, 200);
    EXPECT_EQ(parseReply(b->readAll())->status, 200);
    EXPECT_EQ(entriesUnder(saveFolder.path()), (std::vector<std::string>{"Phone/same-1.bin", "Phone/same.bin"}));
    const auto one = readFile(phoneFolder() / "same.bin");
    const auto two = readFile(phoneFolder() / "same-1.bin");
    EXPECT_TRUE((one == first && two == second) || (one == second && two == first));
    EXPECT_TRUE(owner.duplicates().empty()); // neither existed on disk when it was claimed
}

TEST_P(Upload, WithoutTicketTheDesktopUserIsAsked)
{
    server->setRequireReceiveConfirmation(true);
    HttpReply declined;
    std::thread client([&] { declined = upload("filename=ask.txt&device=Phone", "body"); });
    ASSERT_TRUE(owner.waitForConfirmations(1));
    const auto question = owner.confirmations().front();
    EXPECT_EQ(question.fileName, "ask.txt");
    EXPECT_EQ(question.byteCount, 4);
    owner.answerConfirmation(0, false);
    client.join();
    EXPECT_EQ(declined.status, 403);
    EXPECT_EQ(declined.body, "传输失败");
    EXPECT_TRUE(eventsOf<UploadStarted>(owner.events()).empty());

    // A ticketed upload is never asked again.
    owner.autoConfirm = true;
    const auto ticket = ticketFor("t.txt", 2);
    EXPECT_EQ(owner.confirmations().size(), 2U);
    EXPECT_EQ(upload("filename=t.txt&device=Phone&uploadId=" + ticket, "ok").status, 200);
    EXPECT_EQ(owner.confirmations().size(), 2U);
}

TEST_P(Upload, NeedsASessionWhenThePINGateIsOn)
{
    setPIN(true, "1234");
    const auto reply = upload("filename=a.txt&device=Phone", "data");
    EXPECT_EQ(reply.status, 401);
    EXPECT_EQ(reply.body, "需要 PIN 验证");
    EXPECT_TRUE(owner.events().empty());
}

TEST_P(Upload, MultipartBodiesAreUnpacked)
{
    const std::string body = "--XB\r\n"
                             "Content-Disposition: form-data; name=\"file\"; filename*=UTF-8''%E4%B8%AD.txt\r\n"
                             "Content-Type: text/plain\r\n\r\n"
                             "multipart content\r\n"
                             "--XB--\r\n";
    const auto reply = post("/v1/upload?device=Phone", body, "Content-Type: multipart/form-data; boundary=XB\r\n");
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(readFile(phoneFolder() / "中.txt"), "multipart content");
    EXPECT_EQ(json::parse(reply.body)["byteCount"], 17);

    const auto broken =
        post("/v1/upload?device=Phone", "--XB--\r\n", "Content-Type: multipart/form-data; boundary=XB\r\n");
    EXPECT_EQ(broken.status, 500);
    EXPECT_EQ(broken.body, "Upload failed: 无法解析上传的文件数据（请重试或换一个小文件）");
}

TEST_P(Upload, AMultipartFileStreamsToDiskAsItArrives)
{
    // The file's data holds near-misses of the delimiter; parts before it have no data or no
    // Content-Disposition. The body arrives in pieces cut next to every delimiter.
    std::string data = randomBytes(3 << 20, 43);
    data.replace(1000, 6, "\r\n--XA");
    data.replace(200000, 6, "\r\n--Xb");
    const std::string head = "preamble --X\r\n"
                             "--XB\r\nContent-Type: text/plain\r\n\r\nno disposition\r\n"
                             "--XB\r\nContent-Disposition: form-data; name=\"empty\"; filename=\"e.txt\"\r\n\r\n\r\n"
                             "--XB\r\nContent-Disposition: form-data; name=\"file\"; filename=\"big.bin\"\r\n\r\n";
    const std::string body =
        head + data + "\r\n--XB\r\nContent-Disposition: form-data; name=\"later\"\r\n\r\nx\r\n--XB--\r\n";
    TestConnection connection(port);
    connection.send("POST /v1/upload?device=Phone HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=XB\r\n"
                    "Content-Length: " +
                    std::to_string(body.size()) + "\r\n\r\n");
    std::size_t sent = 0;
    const auto sendUpTo = [&](std::size_t end) {
        ASSERT_TRUE(connection.send(std::string_view(body).substr(sent, end - sent)));
        sent = end;
    };
    for (std::size_t at = body.find("--XB"); at != std::string::npos && at < head.size();
         at = body.find("--XB", at + 1)) {
        sendUpTo(at + 2); // inside the delimiter
        sendUpTo(at + 5);
    }
    sendUpTo(head.size() + data.size() / 2);
    // Half the file is on disk, in its hidden partial file, before the rest of the body has arrived.
    ASSERT_TRUE(eventually([&] {
        for (const auto& entry : entriesUnder(saveFolder.path())) {
            std::error_code error;
            if (isPartialFileName(std::filesystem::path(entry).filename().string()) &&
                std::filesystem::file_size(saveFolder.path() / entry, error) >= data.size() / 2 - 8) {
                return true;
            }
        }
        return false;
    }));
    const auto tail = head.size() + data.size() + 2;
    sendUpTo(tail + 1); // "\r\n-" of the delimiter after the data
    sendUpTo(body.size());
    const auto reply = parseReply(connection.readAll());
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->status, 200) << reply->body;
    EXPECT_EQ(json::parse(reply->body)["byteCount"], data.size());
    EXPECT_EQ(readFile(phoneFolder() / "big.bin"), data);
    EXPECT_EQ(entriesUnder(saveFolder.path()), std::vector<std::string>{"Phone/big.bin"});
    const auto updates = eventsOf<UploadUpdated>(owner.events());
    ASSERT_GE(updates.size(), 2U) << "progress while the body arrives, and the final count";
    EXPECT_EQ(updates.back().bytesReceived, static_cast<std::int64_t>(data.size()));
}

TEST_P(Upload, MultipartBodiesOverSixtyFourMebibytesAreRefused)
{
    const std::string body((64 << 20) + 1, 'x');
    const auto reply = post("/v1/upload?device=Phone", body, "Content-Type: multipart/form-data; boundary=XB\r\n");
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.body,
              "Upload failed: 文件过大，请通过 FerryLantern 网页上传（不要用第三方 multipart 工具传超大文件）");
}

TEST_P(Upload, TheSystemsTextExplainsFileSystemFailures)
{
    std::ofstream(saveFolder.path() / "Blocked") << "a file where the device folder should be";
    const auto reply = upload("filename=a.txt&device=Blocked", "data");
    EXPECT_EQ(reply.status, 500);
    EXPECT_TRUE(reply.body.starts_with("Upload failed: ")) << reply.body;
    EXPECT_GT(reply.body.size(), std::string("Upload failed: ").size());
}

TEST_P(Upload, ExpectContinueGetsTheInterimAnswerBeforeTheBody)
{
    TestConnection connection(port);
    connection.send("POST /v1/upload?filename=c.txt&device=Phone HTTP/1.1\r\nExpect: 100-continue\r\n"
                    "Content-Length: 5\r\n\r\n");
    std::string received;
    ASSERT_TRUE(connection.readUntil("\r\n\r\n", received));
    EXPECT_EQ(received, "HTTP/1.1 100 Continue\r\n\r\n");
    connection.send("hello");
    EXPECT_EQ(parseReply(received + connection.readAll())->status, 200);
}

class LeftoverPartialFiles : public ServerTest
{
protected:
    std::filesystem::path leave(const std::filesystem::path& relative, std::chrono::minutes age)
    {
        const auto path = saveFolder.path() / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << "bytes of an upload that never finished";
        std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - age);
        return path;
    }
};

// What a killed process left: partial files unchanged for longer than any FerryLantern keeps one.
TEST_F(LeftoverPartialFiles, StartRemovesOnlyPartialFilesNoUploadCanStillOwn)
{
    using std::chrono::minutes;
    const auto partialName = [] { return std::string(partialFilePrefix) + makeUUIDText() + ".part"; };
    const auto crashed = leave(std::filesystem::path("Phone") / partialName(), minutes(120));
    const auto crashedElsewhere = leave(std::filesystem::path("Tablet") / partialName(), minutes(30 * 60));
    const auto expired = leave(std::filesystem::path("Phone") / partialName(), minutes(21));
    // Another FerryLantern may be writing this one into the same folder right now, or keep it for a
    // phone that is away.
    const auto receiving = leave(std::filesystem::path("Phone") / partialName(), minutes(0));
    const auto keptForAPhone = leave(std::filesystem::path("Phone") / partialName(), minutes(14));
    const auto lookalike = leave("Phone/.ferrylantern-notes.part", minutes(120));
    const auto received = leave("Phone/photo.jpg", minutes(120));
    const auto outsideDeviceFolders = leave(partialName(), minutes(120));

    startServer();
    EXPECT_FALSE(std::filesystem::exists(crashed));
    EXPECT_FALSE(std::filesystem::exists(crashedElsewhere));
    EXPECT_FALSE(std::filesystem::exists(expired));
    for (const auto& kept : {receiving, keptForAPhone, lookalike, received, outsideDeviceFolders}) {
        EXPECT_TRUE(std::filesystem::exists(kept)) << kept;
    }
}

// A local user may plant a link where a device folder would be; the upload never follows it.
TEST_P(Upload, ASymlinkedDeviceFolderIsRefusedAndNothingLandsOutsideTheSaveFolder)
{
    TemporaryFolder elsewhere;
    std::filesystem::create_directory_symlink(elsewhere.path(), saveFolder.path() / "Phone");
    const auto reply = post("/v1/upload?filename=authorized_keys&device=Phone", "ssh-ed25519 AAAA");
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.body, "Upload failed: 设备文件夹是符号链接或不是文件夹，已拒绝写入");
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
    // A device name cannot name a hidden folder either.
    const auto hidden = post("/v1/upload?filename=authorized_keys&device=.ssh", "ssh-ed25519 AAAA");
    EXPECT_EQ(hidden.status, 200) << hidden.body;
    EXPECT_TRUE(std::filesystem::exists(saveFolder.path() / "_ssh" / "authorized_keys"));
}

// A file of a picked folder goes below its device folder whatever path the phone names: parent steps and
// absolute paths stay inside, nine levels become eight, and a link planted among the folders is refused.
TEST_P(Upload, AFileOfAFolderStaysBelowItsDeviceFolder)
{
    TemporaryFolder elsewhere;
    std::filesystem::create_directories(phoneFolder() / "Linked");
    std::filesystem::create_directory_symlink(elsewhere.path(), phoneFolder() / "Linked" / "In");
    const struct
    {
        const char* path;
        int status;
        std::string saved; // relative to the save folder
    } cases[] = {
        {"../../../escape", 200, "Phone/escape/f.txt"},
        {"%2Ftmp%2F..%2F..%2Fescape", 200, "Phone/tmp/escape/f.txt"},
        {"Trip/./../Day%201", 200, "Phone/Trip/Day 1/f.txt"},
        {"1/2/3/4/5/6/7/8/9", 200, "Phone/1/2/3/4/5/6/7/8/f.txt"},
        {"Linked/In/deeper", 500, ""},
    };
    std::vector<std::string> expected;
    for (const auto& row : cases) {
        SCOPED_TRACE(row.path);
        const auto reply = upload("filename=f.txt&device=Phone&path=" + std::string(row.path), "x");
        EXPECT_EQ(reply.status, row.status) << reply.body;
        if (row.saved.empty()) {
            EXPECT_EQ(reply.body, "Upload failed: 设备文件夹是符号链接或不是文件夹，已拒绝写入");
            continue;
        }
        const auto saved = std::filesystem::path(row.saved);
        EXPECT_EQ(json::parse(reply.body)["path"], saved.parent_path().lexically_relative("Phone").string());
        expected.push_back(row.saved);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(entriesUnder(saveFolder.path()), expected);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
    // Without a path the answer has no "path" member, as before.
    EXPECT_FALSE(json::parse(upload("filename=g.txt&device=Phone", "x").body).contains("path"));
}

// MARK: Resuming and slices

// A ticketed upload whose body breaks off is kept; a request with an offset continues it or sends the
// next slice. Each test ends with what a phone and the desktop would see.
class ResumableUpload : public Upload
{
protected:
    HttpReply resume(const std::string& ticket, std::string_view headerLines = "")
    {
        return get("/v1/upload/resume?uploadId=" + ticket, headerLines);
    }

    HttpReply slice(const std::string& name, const std::string& ticket, std::int64_t offset, std::string_view body,
                    std::string_view headerLines = "")
    {
        return upload("filename=" + name + "&device=Phone&uploadId=" + ticket + "&offset=" + std::to_string(offset),
                      body, headerLines);
    }

    // Sends the head and the first `sent` bytes of a whole-file upload with `ticket`, then drops the
    // connection as a phone leaving the Wi-Fi does, and waits until the server has let go of it.
    void cutAfter(const std::string& name, const std::string& ticket, const std::string& content, std::size_t sent)
    {
        auto connection = startUpload("filename=" + name + "&device=Phone&uploadId=" + ticket, content.size(),
                                      content.substr(0, sent));
        ASSERT_TRUE(eventually([&] {
            const auto reply = resume(ticket);
            return reply.status == 200 && json::parse(reply.body).value("offset", 0) > 0;
        }));
        connection->abort();
        ASSERT_TRUE(eventually([&] { return server->activeConnectionCount() == 0; }));
    }

    std::int64_t offsetOf(const HttpReply& reply)
    {
        EXPECT_EQ(reply.status, 200) << reply.body;
        return reply.status == 200 ? json::parse(reply.body).value("offset", std::int64_t{-1}) : -1;
    }

    std::vector<std::string> partialFiles() const
    {
        std::vector<std::string> found;
        for (const auto& entry : entriesUnder(saveFolder.path())) {
            if (isPartialFileName(std::filesystem::path(entry).filename().string())) {
                found.push_back(entry);
            }
        }
        return found;
    }
};

TEST_P(ResumableUpload, ACutAtHalfResumesFromTheServersOffsetToOneIdenticalFile)
{
    const auto content = randomBytes(4 << 20, 7);
    const auto ticket = ticketFor("movie.mp4", content.size());
    cutAfter("movie.mp4", ticket, content, content.size() / 2);
    EXPECT_EQ(partialFiles().size(), 1U);
    EXPECT_TRUE(eventsOf<UploadFailed>(owner.events()).empty()) << "the desktop keeps showing the transfer";

    const auto position = resume(ticket);
    ASSERT_EQ(position.status, 200) << position.body;
    EXPECT_EQ(position.header("content-type"), "application/json");
    const auto answer = json::parse(position.body);
    const auto offset = answer["offset"].get<std::int64_t>();
    EXPECT_GT(offset, 0);
    EXPECT_LE(offset, static_cast<std::int64_t>(content.size() / 2));
    EXPECT_EQ(answer, (json{{"uploadId", ticket}, {"offset", offset}, {"byteCount", content.size()}}));

    const auto rest = slice("movie.mp4", ticket, offset, std::string_view(content).substr(offset));
    ASSERT_EQ(rest.status, 200) << rest.body;
    const auto saved = json::parse(rest.body);
    EXPECT_EQ(saved["fileName"], "movie.mp4");
    EXPECT_EQ(saved["byteCount"], content.size());
    EXPECT_EQ(readFile(phoneFolder() / "movie.mp4"), content);
    EXPECT_EQ(entriesUnder(saveFolder.path()), std::vector<std::string>{"Phone/movie.mp4"});

    // One transfer on the desktop: started once with the whole size, progress from where it stopped,
    // finished once, one record.
    const auto events = owner.events();
    ASSERT_EQ(eventsOf<UploadStarted>(events).size(), 1U);
    EXPECT_EQ(eventsOf<UploadStarted>(events)[0].totalBytes, static_cast<std::int64_t>(content.size()));
    EXPECT_EQ(eventsOf<UploadFinished>(events).size(), 1U);
    EXPECT_TRUE(eventsOf<UploadFailed>(events).empty());
    const auto progressID = eventsOf<UploadStarted>(events)[0].id;
    for (const auto& event : events) {
        EXPECT_EQ(uploadID(event), progressID);
    }
    const auto updates = eventsOf<UploadUpdated>(events);
    EXPECT_TRUE(std::is_sorted(updates.begin(), updates.end(),
                               [](const auto& a, const auto& b) { return a.bytesReceived < b.bytesReceived; }));
    EXPECT_EQ(owner.records().size(), 1U);

    // The answer is remembered: a phone that lost it learns the saved name instead of sending again.
    EXPECT_EQ(json::parse(resume(ticket).body), (json{{"uploadId", ticket},
                                                      {"offset", content.size()},
                                                      {"byteCount", content.size()},
                                                      {"fileName", "movie.mp4"},
                                                      {"deviceFolder", "Phone"}}));
    const auto again = slice("movie.mp4", ticket, offset, std::string_view(content).substr(offset));
    EXPECT_EQ(again.status, 409);
    EXPECT_EQ(again.body, json({{"offset", content.size()}}).dump());
}

TEST_P(ResumableUpload, SevenSlicesMakeOneIdenticalFileAndOneTransfer)
{
    owner.autoDuplicate = DuplicateFileResolution::keepCopy;
    ASSERT_EQ(upload("filename=clip.mov&device=Phone", "an older clip").status, 200);
    const auto content = randomBytes(7 * 300000 + 11, 3);
    const auto ticket = ticketFor("clip.mov", content.size());
    // A resume before the first byte starts at 0.
    EXPECT_EQ(offsetOf(resume(ticket)), 0);
    const std::size_t sliceSize = (content.size() + 6) / 7;
    std::size_t offset = 0;
    for (int index = 0; index < 7; ++index) {
        const auto body = std::string_view(content).substr(offset, sliceSize);
        const auto reply = slice("clip.mov", ticket, static_cast<std::int64_t>(offset), body);
        ASSERT_EQ(reply.status, 200) << index << ": " << reply.body;
        offset += body.size();
        if (index < 6) {
            EXPECT_EQ(reply.body, json({{"uploadId", ticket}, {"offset", offset}}).dump());
        } else {
            EXPECT_EQ(json::parse(reply.body)["fileName"], "clip-1.mov");
        }
    }
    EXPECT_EQ(readFile(phoneFolder() / "clip-1.mov"), content);
    EXPECT_EQ(owner.duplicates().size(), 1U) << "the same-name question is asked once, by the first slice";
    const auto events = owner.events();
    EXPECT_EQ(eventsOf<UploadStarted>(events).size(), 2U);
    EXPECT_EQ(eventsOf<UploadFinished>(events).size(), 2U);
    EXPECT_TRUE(eventsOf<UploadFailed>(events).empty());
    EXPECT_EQ(eventsOf<UploadUpdated>(events).back().bytesReceived, static_cast<std::int64_t>(content.size()));
    EXPECT_TRUE(partialFiles().empty());
}

TEST_P(ResumableUpload, RequestsThatDoNotFitChangeNothing)
{
    const auto content = randomBytes(1000, 5);
    const auto ticket = ticketFor("a.bin", content.size());
    ASSERT_EQ(offsetOf(slice("a.bin", ticket, 0, content.substr(0, 400))), 400);
    const auto otherTicket = ticketFor("b.bin", 10);
    struct Case
    {
        const char* what;
        std::string target;
        std::string body;
        int status;
        std::string answer;
    };
    const std::string base = "/v1/upload?filename=a.bin&device=Phone&uploadId=" + ticket;
    const std::vector<Case> cases{
        {"an offset behind the file", base + "&offset=300", content.substr(300, 100), 409, R"({"offset":400})"},
        {"an offset beyond the file", base + "&offset=500", content.substr(500, 100), 409, R"({"offset":400})"},
        {"a slice past the end", base + "&offset=400", std::string(601, 'x'), 400, "分片超出文件大小"},
        {"an empty slice", base + "&offset=400", "", 400, "未收到文件内容"},
        {"another file's name", "/v1/upload?filename=c.bin&device=Phone&uploadId=" + ticket + "&offset=400", "x", 403,
         "上传许可无效或已过期"},
        {"another device", "/v1/upload?filename=a.bin&device=Tablet&uploadId=" + ticket + "&offset=400", "x", 403,
         "上传许可无效或已过期"},
        {"another folder", base + "&offset=400&path=Trip", "x", 403, "上传许可无效或已过期"},
        {"an offset that is no number", base + "&offset=4e2", "x", 400, "无效的续传位置"},
        {"a negative offset", base + "&offset=-1", "x", 400, "无效的续传位置"},
        {"no upload id", "/v1/upload?filename=a.bin&device=Phone&offset=0", "x", 404,
         R"({"error":"没有可续传的上传"})"},
        {"an unknown upload id", "/v1/upload?filename=a.bin&device=Phone&offset=0&uploadId=" + Uuid::random().text(),
         "x", 404, R"({"error":"没有可续传的上传"})"},
        {"an unused ticket not at 0", "/v1/upload?filename=b.bin&device=Phone&offset=5&uploadId=" + otherTicket, "x",
         409, R"({"offset":0})"},
        {"an unused ticket's slice past its end",
         "/v1/upload?filename=b.bin&device=Phone&offset=0&uploadId=" + otherTicket, std::string(11, 'x'), 400,
         "分片超出文件大小"},
    };
    for (const auto& test : cases) {
        const auto reply = post(test.target, test.body, "Content-Type: application/octet-stream\r\n");
        EXPECT_EQ(reply.status, test.status) << test.what;
        EXPECT_EQ(reply.body, test.answer) << test.what;
    }
    EXPECT_EQ(offsetOf(resume(ticket)), 400);
    EXPECT_EQ(offsetOf(resume(otherTicket)), 0) << "the unused ticket is still there";
    const auto rest = slice("a.bin", ticket, 400, content.substr(400));
    ASSERT_EQ(rest.status, 200) << rest.body;
    EXPECT_EQ(readFile(phoneFolder() / "a.bin"), content);
    // Without an offset the ticket's request is answered as it always was: the ticket is used up.
    EXPECT_EQ(upload("filename=a.bin&device=Phone&uploadId=" + ticket, content).body, "上传许可无效或已过期");
}

TEST_P(ResumableUpload, AfterTheWindowNothingIsLeftToResume)
{
    const auto content = randomBytes(1 << 20, 9);
    const auto ticket = ticketFor("late.bin", content.size());
    cutAfter("late.bin", ticket, content, content.size() / 2);
    clock.advance(std::chrono::minutes(14));
    EXPECT_EQ(resume(ticket).status, 200) << "still inside the window";
    clock.advance(std::chrono::minutes(1) + std::chrono::seconds(1));
    const auto reply = resume(ticket);
    EXPECT_EQ(reply.status, 404);
    EXPECT_EQ(reply.body, R"({"error":"没有可续传的上传"})");
    EXPECT_TRUE(partialFiles().empty());
    EXPECT_EQ(entriesUnder(saveFolder.path()), std::vector<std::string>{});
    EXPECT_EQ(eventsOf<UploadFailed>(owner.events()).size(), 1U) << "the desktop's row goes";
    EXPECT_EQ(slice("late.bin", ticket, 0, content).status, 404);
}

TEST_P(ResumableUpload, ATimerRemovesWhatNobodyContinuedWithoutARequest)
{
    server.reset();
    ServerOptions options;
    options.resumeSweepInterval = std::chrono::milliseconds(20);
    startServer(std::nullopt, onThisBodyPath(options));
    const auto content = randomBytes(1 << 20, 11);
    const auto ticket = ticketFor("idle.bin", content.size());
    cutAfter("idle.bin", ticket, content, content.size() / 4);
    ASSERT_EQ(partialFiles().size(), 1U);
    clock.advance(std::chrono::minutes(15) + std::chrono::seconds(1));
    EXPECT_TRUE(eventually([&] { return partialFiles().empty(); }));
    EXPECT_TRUE(owner.waitForEvent([](const auto& event) { return std::holds_alternative<UploadFailed>(event); }));
}

TEST_P(ResumableUpload, OnlyTheSessionThatStartedItMayResume)
{
    setPIN(true, "2468");
    const auto token = verifyPIN("2468");
    ASSERT_FALSE(token.empty());
    const std::string session = "X-FerryLantern-Session: " + token + "\r\n";
    const auto content = randomBytes(2000, 13);
    const auto ticketReply = post("/v1/upload/preflight?filename=s.bin&byteCount=2000&device=Phone", "", session);
    ASSERT_EQ(ticketReply.status, 200) << ticketReply.body;
    const std::string ticket = json::parse(ticketReply.body)["uploadId"];
    ASSERT_EQ(offsetOf(slice("s.bin", ticket, 0, content.substr(0, 1000), session)), 1000);

    const auto without = resume(ticket);
    EXPECT_EQ(without.status, 401);
    EXPECT_EQ(without.body, "需要 PIN 验证");
    EXPECT_EQ(resume(ticket, "X-FerryLantern-Session: not-a-session\r\n").status, 401);
    EXPECT_EQ(slice("s.bin", ticket, 1000, content.substr(1000), "X-FerryLantern-Session: forged\r\n").status, 401);
    const auto other = "X-FerryLantern-Session: " + verifyPIN("2468") + "\r\n";
    EXPECT_EQ(resume(ticket, other).status, 404) << "another phone's session does not see it";
    EXPECT_EQ(slice("s.bin", ticket, 1000, content.substr(1000), other).status, 404);

    ASSERT_EQ(slice("s.bin", ticket, 1000, content.substr(1000), session).status, 200);
    EXPECT_EQ(readFile(phoneFolder() / "s.bin"), content);
}

TEST_P(ResumableUpload, ACancelFromTheDesktopOrThePhoneLeavesNothing)
{
    for (const bool fromDesktop : {true, false}) {
        const std::string name = fromDesktop ? "desk.bin" : "phone.bin";
        const auto content = randomBytes(1 << 20, 17);
        const auto ticket = ticketFor(name, content.size());
        cutAfter(name, ticket, content, content.size() / 2);
        const auto offset = offsetOf(resume(ticket));
        ASSERT_EQ(offsetOf(slice(name, ticket, offset, std::string_view(content).substr(offset, 1000))), offset + 1000);
        ASSERT_EQ(partialFiles().size(), 1U);
        if (fromDesktop) {
            server->cancelUpload(eventsOf<UploadStarted>(owner.events()).back().id);
        } else {
            const auto cancelled = post("/v1/upload/cancel?uploadId=" + ticket, "");
            EXPECT_EQ(cancelled.status, 200);
            EXPECT_EQ(cancelled.body, json({{"uploadId", ticket}, {"cancelled", true}}).dump());
        }
        EXPECT_TRUE(partialFiles().empty()) << name;
        EXPECT_EQ(eventsOf<UploadFailed>(owner.events()).size(), fromDesktop ? 1U : 2U);
        const auto reply = resume(ticket);
        EXPECT_EQ(reply.status, 404);
        EXPECT_EQ(reply.body, R"({"error":"传输已取消"})") << "the phone learns it was cancelled";
        EXPECT_EQ(slice(name, ticket, offset + 1000, std::string_view(content).substr(offset + 1000)).status, 404);
    }
    EXPECT_EQ(entriesUnder(saveFolder.path()), std::vector<std::string>{});
    EXPECT_EQ(post("/v1/upload/cancel?uploadId=" + Uuid::random().text(), "").status, 404);
}

TEST_P(ResumableUpload, ANewRequestTakesOverFromAConnectionThatWentSilent)
{
    const auto content = randomBytes(2 << 20, 19);
    const auto ticket = ticketFor("silent.bin", content.size());
    // The phone's Wi-Fi dropped: its old connection neither sends nor closes.
    auto silent = startUpload("filename=silent.bin&device=Phone&uploadId=" + ticket, content.size(),
                              content.substr(0, content.size() / 2));
    // The upload is registered once its head is read, so the first questions may find nothing yet.
    ASSERT_TRUE(eventually([&] {
        const auto reply = resume(ticket);
        return reply.status == 200 && json::parse(reply.body).value("offset", std::int64_t{-1}) ==
                                          static_cast<std::int64_t>(content.size() / 2);
    }));
    const auto offset = offsetOf(resume(ticket));
    const auto rest = slice("silent.bin", ticket, offset, std::string_view(content).substr(offset));
    ASSERT_EQ(rest.status, 200) << rest.body;
    EXPECT_EQ(readFile(phoneFolder() / "silent.bin"), content);
    EXPECT_FALSE(parseReply(silent->readAll()).has_value()) << "the old connection was ended";
    EXPECT_TRUE(eventsOf<UploadFailed>(owner.events()).empty());
}

// A reset socket no longer knows its peer; the upload must still belong to the client that sent it.
TEST_P(ResumableUpload, AConnectionResetRightAfterItsFirstBytesIsKeptForItsClient)
{
    for (int round = 0; round < 10; ++round) {
        const std::string name = "reset-" + std::to_string(round) + ".bin";
        const auto content = randomBytes(1 << 20, 29);
        const auto ticket = ticketFor(name, content.size());
        startUpload("filename=" + name + "&device=Phone&uploadId=" + ticket, content.size(), content.substr(0, 65536))
            ->abort();
        ASSERT_TRUE(eventually(
            [&] { return eventsOf<UploadStarted>(owner.events()).size() == static_cast<std::size_t>(round + 1); }));
        ASSERT_TRUE(eventually([&] { return server->activeConnectionCount() == 0; }));
        const auto reply = resume(ticket);
        ASSERT_EQ(reply.status, 200) << round << ": " << reply.body;
    }
}

TEST_P(ResumableUpload, AStoppedServerKeepsNothing)
{
    const auto content = randomBytes(1 << 20, 23);
    const auto ticket = ticketFor("stop.bin", content.size());
    cutAfter("stop.bin", ticket, content, content.size() / 2);
    ASSERT_EQ(partialFiles().size(), 1U);
    server->stop();
    EXPECT_TRUE(partialFiles().empty());
    EXPECT_EQ(eventsOf<UploadFailed>(owner.events()).size(), 1U);
}

// MARK: The two ways from the socket to the file

std::string bodyPathName(const ::testing::TestParamInfo<RawBodyTransfer>& info)
{
    return info.param == RawBodyTransfer::spliceWhereSupported ? "Splice" : "ReadAndWrite";
}

INSTANTIATE_TEST_SUITE_P(BothBodyPaths, Upload,
                         ::testing::Values(RawBodyTransfer::spliceWhereSupported, RawBodyTransfer::readAndWrite),
                         bodyPathName);
INSTANTIATE_TEST_SUITE_P(BothBodyPaths, ResumableUpload,
                         ::testing::Values(RawBodyTransfer::spliceWhereSupported, RawBodyTransfer::readAndWrite),
                         bodyPathName);

// Both ends of one TCP connection over 127.0.0.1.
struct LoopbackPair
{
    int client = -1;
    int server = -1;

    LoopbackPair()
    {
        const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(listener, 1) == 0 &&
            getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                server = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            }
        }
        close(listener);
    }
    ~LoopbackPair()
    {
        if (client >= 0) {
            close(client);
        }
    }
    LoopbackPair(const LoopbackPair&) = delete;
    LoopbackPair& operator=(const LoopbackPair&) = delete;
};

// The descriptor this process holds open on `path`, found the way a tool would: through /proc.
int openDescriptorOf(const std::filesystem::path& path)
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == path) {
            return std::stoi(entry.path().filename().string());
        }
    }
    return -1;
}

TEST(RawBodyReceiver, MovesEveryByteInStepsAndFallsBackWhereTheKernelRefusesSplice)
{
    struct Case
    {
        const char* what;
        RawBodyTransfer transfer;
        bool fileRefusesSplice; // opened for appending, which splice(2) refuses with EINVAL
        bool splicesAtTheEnd;
    };
    const std::vector<Case> cases{
        {"socket to pipe to file", RawBodyTransfer::spliceWhereSupported, false, true},
        {"a file that refuses splice gets the first step's bytes from the pipe, then the buffer's",
         RawBodyTransfer::spliceWhereSupported, true, false},
        {"read and write only", RawBodyTransfer::readAndWrite, false, false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        TemporaryFolder save;
        LoopbackPair sockets;
        ASSERT_GE(sockets.server, 0);
        HeadMemoryBudget budget;
        Connection connection(sockets.server, ConnectionPolicy{}, budget, "127.0.0.1");
        auto folder = ConfinedFolder::open(save.path(), "Phone");
        ASSERT_TRUE(folder);
        auto file = PartialFile::create(*folder);
        ASSERT_TRUE(file);
        if (test.fileRefusesSplice) {
            const auto partial = *std::filesystem::directory_iterator(save.path() / "Phone");
            const int fd = openDescriptorOf(partial.path());
            ASSERT_GE(fd, 0);
            ASSERT_EQ(fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_APPEND), 0);
        }

        const auto content = randomBytes((5 << 20) + 3, 41);
        std::thread sender([&] {
            for (std::size_t at = 0; at < content.size(); at += 300000) {
                const auto piece = std::string_view(content).substr(at, 300000);
                ASSERT_EQ(::send(sockets.client, piece.data(), piece.size(), MSG_NOSIGNAL),
                          static_cast<ssize_t>(piece.size()));
            }
        });
        RawBodyReceiver body(connection, *file, test.transfer);
        EXPECT_EQ(body.isSplicing(), test.transfer == RawBodyTransfer::spliceWhereSupported);
        std::size_t received = 0;
        std::size_t largestStep = 0;
        while (received < content.size()) {
            const auto moved = body.receive(std::min(RawBodyReceiver::stepSize, content.size() - received));
            ASSERT_TRUE(moved) << moved.error().message();
            ASSERT_GT(*moved, 0U);
            largestStep = std::max(largestStep, *moved);
            received += *moved;
        }
        sender.join();
        EXPECT_EQ(received, content.size());
        EXPECT_LE(largestStep, RawBodyReceiver::stepSize);
        EXPECT_EQ(body.isSplicing(), test.splicesAtTheEnd);
        ASSERT_FALSE(file->close());
        ASSERT_FALSE(file->commit("body.bin", PartialFile::Replace::never));
        EXPECT_EQ(readFile(save.path() / "Phone" / "body.bin"), content);

        // A client that goes away: the next step reports the end, and nothing more reaches the file.
        shutdown(sockets.client, SHUT_WR);
        const auto after = body.receive(RawBodyReceiver::stepSize);
        ASSERT_TRUE(after);
        EXPECT_EQ(*after, 0U);
    }
}

} // namespace
} // namespace ferrylantern::test
