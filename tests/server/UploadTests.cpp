// POST "/v1/upload" over real sockets: saving byte-identical files, tickets, names and folders,
// questions, same names, multipart bodies, and every way an upload can fail without leaving anything
// behind. The tests that move a raw body run twice, once for each way it can travel from the socket to
// the file (splice through a pipe, or read and write through a buffer); RawBodyReceiver's own test
// sees the switch from one to the other when the kernel refuses splice.
#include "server/RawBodyReceiver.h"
#include "tests/server/UploadFixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <thread>

namespace ferrylantern::test {
namespace {

using nlohmann::json;

// Head and first bytes in one segment: the server reads them together, and must write those bytes
// before anything that arrives later, whatever carries the rest.
TEST_P(UploadOnBothBodyPaths, SavesATicketedFileByteForByteAndReportsInOrder)
{
    const auto content = randomBytes((3 << 20) + 17, 37);
    constexpr std::size_t withTheHead = 5000;
    const auto ticket = ticketFor("song.flac", content.size());
    TestConnection connection(port);
    connection.send("POST /v1/upload?filename=song.flac&device=Phone&uploadId=" + ticket +
                    " HTTP/1.1\r\nContent-Length: " + std::to_string(content.size()) + "\r\n\r\n" +
                    content.substr(0, withTheHead));
    ASSERT_TRUE(waitForStarted(1));
    for (std::size_t at = withTheHead; at < content.size(); at += 100000) {
        ASSERT_TRUE(connection.send(std::string_view(content).substr(at, 100000)));
    }
    const auto reply = parseReply(connection.readAll()).value_or(HttpReply{});
    ASSERT_EQ(reply.status, 200) << reply.body;
    const auto saved = phoneFolder() / "song.flac";
    EXPECT_EQ(readTextFile(saved), content);
    EXPECT_EQ(entriesUnder(saveFolder.path()), std::vector<std::string>{"Phone/song.flac"});

    const auto events = owner.events();
    ASSERT_GE(events.size(), 3U);
    const auto& started = std::get<UploadStarted>(events.front());
    EXPECT_EQ(started.totalBytes, static_cast<std::int64_t>(content.size()));
    EXPECT_EQ(std::get<UploadUpdated>(events[events.size() - 2]).bytesReceived,
              static_cast<std::int64_t>(content.size()));
    EXPECT_TRUE(std::holds_alternative<UploadFinished>(events.back()));
    for (const auto& event : events) {
        EXPECT_EQ(uploadID(event), started.id);
    }
    const auto records = owner.records();
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(json::parse(reply.body), (json{{"id", records[0].id.text()},
                                             {"fileName", "song.flac"},
                                             {"byteCount", content.size()},
                                             {"savedPath", std::filesystem::absolute(saved).string()},
                                             {"deviceFolder", "Phone"}}));
    EXPECT_NE(records[0].id.text(), ticket);
    EXPECT_EQ(records[0].fileURL, std::filesystem::absolute(saved));
}

// A client that vanishes, one that stops early and an upload the desktop cancels: none leaves a file,
// and the file each of them would have replaced is kept.
TEST_P(UploadOnBothBodyPaths, AnUploadThatBreaksOffLeavesNothingAndKeepsWhatItWouldReplace)
{
    ASSERT_EQ(upload("filename=keep.txt&device=Phone", "precious").status, 200);
    owner.autoDuplicate = DuplicateFileResolution::overwrite;

    auto vanishing = startUpload("filename=keep.txt&device=Phone", 4 << 20, randomBytes(1 << 20));
    ASSERT_TRUE(waitForStarted(2));
    vanishing->abort();
    ASSERT_TRUE(eventually([&] { return eventsOf<UploadFailed>(owner.events()).size() == 1; }));

    auto stopping = startUpload("filename=keep.txt&device=Phone", 100, "only forty bytes of the hundred announced");
    stopping->shutdownWrite();
    const auto incomplete = parseReply(stopping->readAll());
    ASSERT_TRUE(incomplete);
    EXPECT_EQ(incomplete->status, 500);
    EXPECT_EQ(incomplete->body, "Upload failed: 上传中断，文件不完整");

    auto cancelled = startUpload("filename=keep.txt&device=Phone", 8 << 20, randomBytes(1 << 20));
    ASSERT_TRUE(waitForStarted(4));
    const auto id = eventsOf<UploadStarted>(owner.events()).back().id;
    server->cancelUpload(id);
    ASSERT_TRUE(eventually([&] { return eventsOf<UploadFailed>(owner.events()).size() == 3; }));
    EXPECT_EQ(eventsOf<UploadFailed>(owner.events()).back().id, id);
    EXPECT_FALSE(parseReply(cancelled->readAll()).has_value()); // the answer went to a dead socket

    EXPECT_TRUE(eventually([&] { return server->activeConnectionCount() == 0; }));
    EXPECT_EQ(readTextFile(phoneFolder() / "keep.txt"), "precious");
    EXPECT_EQ(entriesUnder(saveFolder.path()), std::vector<std::string>{"Phone/keep.txt"});
}

TEST_P(UploadOnBothBodyPaths, TwoSameNameUploadsAtOnceNeverShareADestination)
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
    const auto one = readTextFile(phoneFolder() / "same.bin");
    const auto two = readTextFile(phoneFolder() / "same-1.bin");
    EXPECT_TRUE((one == first && two == second) || (one == second && two == first));
    EXPECT_TRUE(owner.duplicates().empty()); // neither existed on disk when it was claimed
}

TEST_F(Upload, ATicketWorksOnceAndOnlyForWhatWasApproved)
{
    const auto ticket = ticketFor("a.bin", 1000);
    const auto shortBody = upload("filename=a.bin&device=Phone&uploadId=" + ticket, randomBytes(999));
    EXPECT_EQ(shortBody.status, 403);
    EXPECT_EQ(shortBody.body, "上传许可无效或已过期");
    EXPECT_EQ(upload("filename=a.bin&device=Phone&uploadId=" + ticket, randomBytes(1000)).status, 403);
    const auto renamed = ticketFor("a.bin", 10);
    EXPECT_EQ(upload("filename=b.bin&device=Phone&uploadId=" + renamed, randomBytes(10)).status, 403);
    const auto moved = ticketFor("a.bin", 10);
    EXPECT_EQ(upload("filename=a.bin&device=Tablet&uploadId=" + moved, randomBytes(10)).status, 403);
    EXPECT_EQ(upload("filename=a.bin&device=Phone&uploadId=not-a-uuid", randomBytes(10)).status, 403);
    const auto expired = ticketFor("a.bin", 4);
    clock.advance(std::chrono::seconds(900));
    EXPECT_EQ(upload("filename=a.bin&device=Phone&uploadId=" + expired, "abcd").status, 403);
    EXPECT_EQ(entriesUnder(saveFolder.path()), std::vector<std::string>{});

    // The preflight and the upload shorten a long name alike, so its ticket still matches.
    const std::string name = std::string(300, 'n') + ".txt";
    const auto reply = upload("filename=" + name + "&device=Phone&uploadId=" + ticketFor(name, 3), "abc");
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(json::parse(reply.body)["fileName"], std::string(251, 'n') + ".txt");
}

// Whatever name, device or folder path the phone sends, the file lands below its device folder: parent
// steps and absolute paths stay inside, nine levels become eight, a device name cannot hide its folder
// or trim to "..", and a link planted as a device folder or among the folders is refused.
TEST_F(Upload, FilesLandOnlyBelowTheirDeviceFolder)
{
    TemporaryFolder elsewhere;
    std::filesystem::create_directories(phoneFolder() / "Linked");
    std::filesystem::create_directory_symlink(elsewhere.path(), phoneFolder() / "Linked" / "In");
    std::filesystem::create_directory_symlink(elsewhere.path(), saveFolder.path() / "Planted");
    // "x/%20.." is the device " .." once its last path component is taken; trimmed, that was "..",
    // and the file went into the save folder's parent.
    const std::string escape = "escape-" + Uuid::random().text() + ".txt";
    const struct
    {
        const char* what;
        std::string query;
        std::string headerLines;
        std::string saved; // relative to the save folder; empty when refused
    } rows[] = {
        {"name in a header", "device=Phone", "X-Filename: header.txt\r\n", "Phone/header.txt"},
        {"name in the disposition", "device=Phone", "Content-Disposition: attachment; filename=\"disp.txt\"\r\n",
         "Phone/disp.txt"},
        {"a device that trims to dots", "filename=" + escape + "&device=x/%20..", "", "unknown-device/" + escape},
        {"a hidden device folder", "filename=authorized_keys&device=.ssh", "", "_ssh/authorized_keys"},
        {"parent steps", "filename=f.txt&device=Phone&path=../../../escape", "", "Phone/escape/f.txt"},
        {"an absolute path", "filename=f.txt&device=Phone&path=%2Ftmp%2F..%2F..%2Fescape", "",
         "Phone/tmp/escape/f.txt"},
        {"nine levels", "filename=f.txt&device=Phone&path=1/2/3/4/5/6/7/8/9", "", "Phone/1/2/3/4/5/6/7/8/f.txt"},
        {"a link among the folders", "filename=f.txt&device=Phone&path=Linked/In/deeper", "", ""},
        {"a linked device folder", "filename=authorized_keys&device=Planted", "", ""},
    };
    std::vector<std::string> expected;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const auto reply = post("/v1/upload?" + row.query, "x", row.headerLines);
        if (row.saved.empty()) {
            EXPECT_EQ(reply.status, 500);
            EXPECT_EQ(reply.body, "Upload failed: 设备文件夹是符号链接或不是文件夹，已拒绝写入");
            continue;
        }
        ASSERT_EQ(reply.status, 200) << reply.body;
        const std::filesystem::path saved(row.saved);
        const auto answer = json::parse(reply.body);
        EXPECT_EQ(answer["fileName"], saved.filename().string());
        EXPECT_EQ(answer["deviceFolder"], saved.begin()->string());
        // Without a path the answer has no "path" member, as before.
        EXPECT_EQ(answer.value("path", std::string(".")), saved.parent_path().lexically_relative(*saved.begin()));
        expected.push_back(row.saved);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(entriesUnder(saveFolder.path()), expected);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
    const auto outside = saveFolder.path().parent_path() / escape;
    EXPECT_FALSE(std::filesystem::exists(outside));
    std::filesystem::remove(outside); // should it be there, leave nothing in the shared folder
    const auto unnamed = json::parse(post("/v1/upload?device=Phone", "4").body);
    EXPECT_TRUE(unnamed["fileName"].get<std::string>().starts_with("upload-"));
}

TEST_F(Upload, SameNameFilesAreKeptAsNumberedCopiesReplacedOrRefusedAsTheDesktopSays)
{
    owner.autoDuplicate = DuplicateFileResolution::keepCopy;
    for (const auto* body : {"one", "two", "three"}) {
        EXPECT_EQ(upload("filename=photo.jpg&device=Phone", body).status, 200);
    }
    EXPECT_EQ(readTextFile(phoneFolder() / "photo.jpg"), "one");
    EXPECT_EQ(readTextFile(phoneFolder() / "photo-1.jpg"), "two");
    EXPECT_EQ(readTextFile(phoneFolder() / "photo-2.jpg"), "three");
    const auto questions = owner.duplicates();
    ASSERT_EQ(questions.size(), 2U);
    EXPECT_EQ(questions[0].existingFilePath, std::filesystem::absolute(phoneFolder() / "photo.jpg").string());

    const std::string nearlyAllExtension = "a." + std::string(253, 'x');
    EXPECT_EQ(upload("filename=" + nearlyAllExtension + "&device=Phone", "one").status, 200);
    const auto copy = upload("filename=" + nearlyAllExtension + "&device=Phone", "two");
    ASSERT_EQ(copy.status, 200) << copy.body;
    EXPECT_EQ(json::parse(copy.body)["fileName"], "a-1." + std::string(251, 'x'));

    owner.autoDuplicate = DuplicateFileResolution::overwrite;
    EXPECT_EQ(upload("filename=photo.jpg&device=Phone", "new").status, 200);
    EXPECT_EQ(readTextFile(phoneFolder() / "photo.jpg"), "new");
    owner.autoDuplicate = DuplicateFileResolution::cancel;
    const auto refused = upload("filename=photo.jpg&device=Phone", "newest");
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(refused.body, "已取消保存");
    EXPECT_EQ(readTextFile(phoneFolder() / "photo.jpg"), "new");
    EXPECT_EQ(entriesUnder(saveFolder.path()).size(), 5U);
    EXPECT_EQ(eventsOf<UploadFailed>(owner.events()).size(), 1U);
}

// With confirmation on, an upload without a ticket, a text and a preflight each wait for the desktop's
// answer; a refusal is "传输失败" and leaves nothing, not even a ticket.
TEST_F(Upload, WhatNeedsTheDesktopsAnswerWaitsForItAndARefusalLeavesNothing)
{
    server->setRequireReceiveConfirmation(true);
    const struct
    {
        std::string target;
        std::string body;
        ReceiveKind kind;
        std::string question; // what the desktop is asked about
        std::int64_t byteCount;
    } rows[] = {
        {"/v1/upload?filename=ask.txt&device=Phone", "body", ReceiveKind::file, "ask.txt", 4},
        {"/v1/text?device=Phone",
         json{{"text", "\n  Meeting at 3pm in room 2, bring the slides please and the laptop"}}.dump(),
         ReceiveKind::text, "Meeting at 3pm in room 2, bring the slid…", 67},
        {"/v1/upload/preflight?filename=a.txt&byteCount=5&device=Phone", "", ReceiveKind::file, "a.txt", 5},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        auto declined = std::async(std::launch::async, [&] { return post(row.target, row.body); });
        ASSERT_TRUE(owner.waitForConfirmations(i + 1));
        const auto question = owner.confirmations().at(i);
        EXPECT_EQ(question.kind, row.kind) << row.target;
        EXPECT_EQ(question.fileName, row.question);
        EXPECT_EQ(question.byteCount, row.byteCount);
        owner.answerConfirmation(i, false);
        const auto refused = declined.get();
        EXPECT_EQ(refused.status, 403) << row.target;
        EXPECT_EQ(refused.body, "传输失败");
    }
    EXPECT_TRUE(owner.events().empty());
    EXPECT_TRUE(owner.texts().empty());

    auto accepted = std::async(std::launch::async, [&] { return post("/v1/text", R"({"text":"ok"})"); });
    ASSERT_TRUE(owner.waitForConfirmations(4));
    owner.answerConfirmation(3, true);
    EXPECT_EQ(accepted.get().status, 200);
    ASSERT_EQ(owner.texts().size(), 1U);
    EXPECT_EQ(owner.texts()[0].text, "ok");
    // A ticketed upload is never asked again.
    owner.autoConfirm = true;
    EXPECT_EQ(upload("filename=t.txt&device=Phone&uploadId=" + ticketFor("t.txt", 2), "ok").status, 200);
    EXPECT_EQ(owner.confirmations().size(), 5U);

    // Cancelled from the desktop while it waits: the socket is shut down, then the question answered.
    owner.autoConfirm.reset();
    TestConnection connection(port);
    connection.send(
        buildRequest("POST", "/v1/upload/preflight/batch", "", R"({"files":[{"filename":"a","byteCount":1}]})"));
    ASSERT_TRUE(owner.waitForBatches(1));
    server->cancelAllUploads();
    owner.answerBatch(0, false);
    EXPECT_EQ(connection.readAll(), "");

    // The declined preflight's id is no ticket.
    server->setRequireReceiveConfirmation(false);
    const auto declinedTicket = owner.confirmations()[2].uploadID.text();
    EXPECT_EQ(upload("filename=a.txt&device=Phone&uploadId=" + declinedTicket, "12345").status, 403);
}

TEST_F(Upload, FailuresAreExplainedAndLeaveNothing)
{
    std::ofstream(saveFolder.path() / "Blocked") << "a file where the device folder should be";
    const std::string multipart = "Content-Type: multipart/form-data; boundary=XB\r\n";
    const struct
    {
        const char* what;
        std::string query;
        std::string body;
        std::string headerLines;
        std::string answer; // after "Upload failed: "; empty for the system's own text
    } rows[] = {
        {"an empty body", "filename=empty.txt&device=Phone", "", "", "未收到文件内容"},
        {"a multipart body without a part", "device=Phone", "--XB--\r\n", multipart,
         "无法解析上传的文件数据（请重试或换一个小文件）"},
        {"a device folder that cannot be made", "filename=a.txt&device=Blocked", "data", "", ""},
    };
    for (const auto& row : rows) {
        const auto reply = post("/v1/upload?" + row.query, row.body, row.headerLines);
        EXPECT_EQ(reply.status, 500) << row.what;
        EXPECT_TRUE(reply.body.starts_with("Upload failed: ")) << reply.body;
        if (!row.answer.empty()) {
            EXPECT_EQ(reply.body, "Upload failed: " + row.answer) << row.what;
        }
        EXPECT_GT(reply.body.size(), std::string("Upload failed: ").size());
    }
    EXPECT_EQ(entriesUnder(saveFolder.path()), std::vector<std::string>{"Blocked"});
}

TEST_F(Upload, AMultipartFileStreamsToDiskAsItArrives)
{
    // filename* gives the name. The file's data holds near-misses of the delimiter; parts before it
    // have no data or no Content-Disposition. The body arrives in pieces cut next to every delimiter.
    std::string data = randomBytes(3 << 20, 43);
    data.replace(1000, 6, "\r\n--XA");
    data.replace(200000, 6, "\r\n--Xb");
    const std::string head =
        "preamble --X\r\n"
        "--XB\r\nContent-Type: text/plain\r\n\r\nno disposition\r\n"
        "--XB\r\nContent-Disposition: form-data; name=\"empty\"; filename=\"e.txt\"\r\n\r\n\r\n"
        "--XB\r\nContent-Disposition: form-data; name=\"file\"; filename*=UTF-8''%E4%B8%AD.bin\r\n\r\n";
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
        for (const auto& entry : partialFiles()) {
            std::error_code error;
            if (std::filesystem::file_size(saveFolder.path() / entry, error) >= data.size() / 2 - 8) {
                return true;
            }
        }
        return false;
    }));
    sendUpTo(head.size() + data.size() + 3); // "\r\n-" of the delimiter after the data
    sendUpTo(body.size());
    const auto reply = parseReply(connection.readAll());
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->status, 200) << reply->body;
    EXPECT_EQ(json::parse(reply->body)["byteCount"], data.size());
    EXPECT_EQ(readTextFile(phoneFolder() / "中.bin"), data);
    EXPECT_EQ(entriesUnder(saveFolder.path()), std::vector<std::string>{"Phone/中.bin"});
    const auto updates = eventsOf<UploadUpdated>(owner.events());
    ASSERT_GE(updates.size(), 2U) << "progress while the body arrives, and the final count";
    EXPECT_EQ(updates.back().bytesReceived, static_cast<std::int64_t>(data.size()));
}

// What a killed process left: partial files unchanged for longer than any FerryLantern keeps one.
using LeftoverPartialFiles = ServerTest;
TEST_F(LeftoverPartialFiles, StartRemovesOnlyPartialFilesNoUploadCanStillOwn)
{
    using std::chrono::minutes;
    const auto leave = [this](const std::filesystem::path& relative, minutes age) {
        const auto path = writeFile(saveFolder.path() / relative, "bytes of an upload that never finished");
        std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - age);
        return path;
    };
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
    for (const auto& removed : {crashed, crashedElsewhere, expired}) {
        EXPECT_FALSE(std::filesystem::exists(removed)) << removed;
    }
    for (const auto& kept : {receiving, keptForAPhone, lookalike, received, outsideDeviceFolders}) {
        EXPECT_TRUE(std::filesystem::exists(kept)) << kept;
    }
}

std::string bodyPathName(const ::testing::TestParamInfo<RawBodyTransfer>& info)
{
    return info.param == RawBodyTransfer::spliceWhereSupported ? "Splice" : "ReadAndWrite";
}

// The resuming tests in ResumableUploadTests.cpp run on both paths too.
INSTANTIATE_TEST_SUITE_P(BothBodyPaths, UploadOnBothBodyPaths,
                         ::testing::Values(RawBodyTransfer::spliceWhereSupported, RawBodyTransfer::readAndWrite),
                         bodyPathName);

// The server's end of a TCP connection over 127.0.0.1 that `client` opens; -1 if it cannot be made.
int acceptLoopbackConnection(std::unique_ptr<TestConnection>& client)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int accepted = -1;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(listener, 1) == 0 &&
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        client = std::make_unique<TestConnection>(ntohs(address.sin_port));
        accepted = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    }
    close(listener);
    return accepted;
}

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
        std::unique_ptr<TestConnection> client;
        const int serverEnd = acceptLoopbackConnection(client);
        ASSERT_GE(serverEnd, 0);
        HeadMemoryBudget budget;
        Connection connection(serverEnd, ConnectionPolicy{}, budget, "127.0.0.1");
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
                ASSERT_TRUE(client->send(std::string_view(content).substr(at, 300000)));
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
        EXPECT_EQ(readTextFile(save.path() / "Phone" / "body.bin"), content);

        // A client that goes away: the next step reports the end, and nothing more reaches the file.
        client->shutdownWrite();
        const auto after = body.receive(RawBodyReceiver::stepSize);
        ASSERT_TRUE(after);
        EXPECT_EQ(*after, 0U);
    }
}

} // namespace
} // namespace ferrylantern::test
