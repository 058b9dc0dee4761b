// Resuming over real sockets: a ticketed upload whose body breaks off is kept for a while; a request
// with an offset continues it or sends the next slice. Each test ends with what a phone and the desktop
// would see.
#include "tests/server/UploadFixture.h"

namespace ferrylantern::test {
namespace {

using nlohmann::json;

// A timer removes what nobody continued, without waiting for a request.
class ResumableUpload : public Upload
{
protected:
    ServerOptions options() const override
    {
        ServerOptions options;
        options.resumeSweepInterval = std::chrono::milliseconds(20);
        return options;
    }
};

// The phone's Wi-Fi dropped halfway: its old connection neither sends nor closes. A new request asks
// where the server stands, sends the rest from there and takes the upload over.
TEST_P(UploadOnBothBodyPaths, AnUploadCutAtHalfResumesFromTheServersOffsetToOneIdenticalFile)
{
    const auto content = randomBytes(4 << 20, 7);
    const auto half = static_cast<std::int64_t>(content.size() / 2);
    const auto ticket = ticketFor("movie.mp4", content.size());
    auto silent = startUpload("filename=movie.mp4&device=Phone&uploadId=" + ticket, content.size(),
                              content.substr(0, content.size() / 2));
    // The upload is registered once its head is read, so the first questions may find nothing yet.
    ASSERT_TRUE(eventually([&] {
        const auto reply = resume(ticket);
        return reply.status == 200 && json::parse(reply.body).value("offset", std::int64_t{-1}) == half;
    }));
    EXPECT_EQ(partialFiles().size(), 1U);
    EXPECT_EQ(json::parse(resume(ticket).body),
              (json{{"uploadId", ticket}, {"offset", half}, {"byteCount", content.size()}}));

    const auto rest = slice("movie.mp4", ticket, half, std::string_view(content).substr(half));
    ASSERT_EQ(rest.status, 200) << rest.body;
    EXPECT_FALSE(parseReply(silent->readAll()).has_value()) << "the old connection was ended";
    EXPECT_EQ(readTextFile(phoneFolder() / "movie.mp4"), content);
    EXPECT_EQ(entriesUnder(saveFolder.path()), std::vector<std::string>{"Phone/movie.mp4"});

    // One transfer on the desktop: started once with the whole size, progress from where it stopped,
    // finished once, one record.
    const auto events = owner.events();
    const auto started = std::get<UploadStarted>(events.front());
    EXPECT_EQ(started.totalBytes, static_cast<std::int64_t>(content.size()));
    EXPECT_EQ(eventsOf<UploadStarted>(events).size(), 1U);
    EXPECT_EQ(eventsOf<UploadFinished>(events).size(), 1U);
    EXPECT_TRUE(eventsOf<UploadFailed>(events).empty());
    for (const auto& event : events) {
        EXPECT_EQ(uploadID(event), started.id);
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
    const auto again = slice("movie.mp4", ticket, half, std::string_view(content).substr(half));
    EXPECT_EQ(again.status, 409);
    EXPECT_EQ(again.body, json({{"offset", content.size()}}).dump());
}

TEST_P(UploadOnBothBodyPaths, SevenSlicesMakeOneIdenticalFileAndOneTransfer)
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
    EXPECT_EQ(readTextFile(phoneFolder() / "clip-1.mov"), content);
    EXPECT_EQ(owner.duplicates().size(), 1U) << "the same-name question is asked once, by the first slice";
    const auto events = owner.events();
    EXPECT_EQ(eventsOf<UploadStarted>(events).size(), 2U);
    EXPECT_EQ(eventsOf<UploadFinished>(events).size(), 2U);
    EXPECT_TRUE(eventsOf<UploadFailed>(events).empty());
    EXPECT_EQ(eventsOf<UploadUpdated>(events).back().bytesReceived, static_cast<std::int64_t>(content.size()));
    EXPECT_TRUE(partialFiles().empty());
}

TEST_F(ResumableUpload, RequestsThatDoNotFitChangeNothing)
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
    EXPECT_EQ(readTextFile(phoneFolder() / "a.bin"), content);
    // Without an offset the ticket's request is answered as it always was: the ticket is used up.
    EXPECT_EQ(upload("filename=a.bin&device=Phone&uploadId=" + ticket, content).body, "上传许可无效或已过期");
}

TEST_F(ResumableUpload, AKeptUploadGoesAfterItsWindowOrWhenTheServerStops)
{
    const auto content = randomBytes(1 << 20, 9);
    const auto ticket = ticketFor("late.bin", content.size());
    cutAfter("late.bin", ticket, content, content.size() / 2);
    EXPECT_TRUE(eventsOf<UploadFailed>(owner.events()).empty()) << "the desktop keeps showing the transfer";
    clock.advance(std::chrono::minutes(14));
    EXPECT_EQ(resume(ticket).status, 200) << "still inside the window";
    clock.advance(std::chrono::minutes(1) + std::chrono::seconds(1));
    EXPECT_TRUE(eventually([&] { return partialFiles().empty(); }));
    EXPECT_TRUE(eventually([&] { return !eventsOf<UploadFailed>(owner.events()).empty(); }));
    const auto reply = resume(ticket);
    EXPECT_EQ(reply.status, 404);
    EXPECT_EQ(reply.body, R"({"error":"没有可续传的上传"})");
    EXPECT_EQ(entriesUnder(saveFolder.path()), std::vector<std::string>{});
    EXPECT_EQ(eventsOf<UploadFailed>(owner.events()).size(), 1U) << "the desktop's row goes";
    EXPECT_EQ(slice("late.bin", ticket, 0, content).status, 404);

    const auto stopped = ticketFor("stop.bin", content.size());
    cutAfter("stop.bin", stopped, content, content.size() / 2);
    ASSERT_EQ(partialFiles().size(), 1U);
    server->stop();
    EXPECT_TRUE(partialFiles().empty());
    EXPECT_EQ(eventsOf<UploadFailed>(owner.events()).size(), 2U);
}

TEST_F(ResumableUpload, OnlyTheSessionThatStartedItMayResume)
{
    setPIN(true, "2468");
    const std::string session = "X-FerryLantern-Session: " + verifyPIN("2468") + "\r\n";
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
    EXPECT_EQ(readTextFile(phoneFolder() / "s.bin"), content);
}

TEST_F(ResumableUpload, ACancelFromTheDesktopOrThePhoneLeavesNothing)
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

// A reset socket no longer knows its peer; the upload must still belong to the client that sent it.
TEST_F(ResumableUpload, AConnectionResetRightAfterItsFirstBytesIsKeptForItsClient)
{
    for (std::size_t round = 1; round <= 10; ++round) {
        const std::string name = "reset-" + std::to_string(round) + ".bin";
        const auto content = randomBytes(1 << 20, 29);
        const auto ticket = ticketFor(name, content.size());
        startUpload("filename=" + name + "&device=Phone&uploadId=" + ticket, content.size(), content.substr(0, 65536))
            ->abort();
        ASSERT_TRUE(eventually([&] { return eventsOf<UploadStarted>(owner.events()).size() == round; }));
        ASSERT_TRUE(eventually([&] { return server->activeConnectionCount() == 0; }));
        const auto reply = resume(ticket);
        ASSERT_EQ(reply.status, 200) << round << ": " << reply.body;
    }
}

} // namespace
} // namespace ferrylantern::test
