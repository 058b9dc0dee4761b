// Single and batch preflights over real sockets: every check in its order with its answer, tickets and
// the questions put to the owner.
#include "server/DiskSpace.h"
#include "server/Endpoints.h"
#include "tests/server/ServerFixture.h"

#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

namespace ferrylantern::test {
namespace {

using nlohmann::json;

json files(std::initializer_list<std::pair<std::string, std::int64_t>> list)
{
    json array = json::array();
    for (const auto& [name, size] : list) {
        array.push_back({{"filename", name}, {"byteCount", size}});
    }
    return array;
}

void expectText(const HttpReply& reply, int status, std::string_view body)
{
    EXPECT_EQ(reply.status, status) << reply.body;
    EXPECT_EQ(reply.body, body);
}

class Preflight : public RunningServer
{
protected:
    HttpReply single(std::string_view query) { return post("/v1/upload/preflight?" + std::string(query), ""); }
    HttpReply batch(const json& body, std::string_view query = "")
    {
        return post("/v1/upload/preflight/batch" + std::string(query), body.dump());
    }
};

TEST_F(Preflight, SingleChecksInOrder)
{
    expectText(single("byteCount=5"), 400, "缺少 filename");
    expectText(single("filename=%20%20&byteCount=5"), 400, "缺少 filename");
    expectText(single("filename=a.txt"), 400, "缺少 byteCount");
    expectText(single("filename=a.txt&byteCount=abc"), 400, "缺少 byteCount");
    expectText(single("filename=a.txt&byteCount=0"), 400, "无效的文件大小");
    expectText(single("filename=a.txt&byteCount=-5"), 400, "无效的文件大小");
    expectText(single("filename=a.txt&byteCount=107374182401"), 400, "无效的文件大小");
    EXPECT_NE(single("filename=a.txt&byteCount=107374182400").body, "无效的文件大小");
}

TEST_F(Preflight, BothAnswerTheSameFailureTheSameWay)
{
    struct Row
    {
        const char* failure;
        std::int64_t byteCount;
        std::function<void()> arrange;
        int status;
    };
    std::vector<Row> rows{
        {"no session", 5, [this] { setPIN(true, "1234"); }, 401},
        {"invalid size", 0, [] {}, 400},
        {"declined", 5,
         [this] {
             server->setRequireReceiveConfirmation(true);
             owner.autoConfirm = false;
         },
         403},
    };
    // A full disk is the server's failure, not the request's; unless the volume's free space is outside
    // what one upload may announce.
    const auto available = availableCapacity(saveFolder.path());
    ASSERT_TRUE(available);
    if (const auto tooMuch = *available - diskSpaceReserve / 2; tooMuch >= 1 && tooMuch <= maxFileBytes) {
        rows.push_back({"no disk space", tooMuch, [] {}, 500});
    }
    for (const auto& row : rows) {
        setPIN(false, "");
        server->setRequireReceiveConfirmation(false);
        row.arrange();
        const auto one = single("filename=a.txt&byteCount=" + std::to_string(row.byteCount));
        const auto many = batch({{"files", files({{"a.txt", row.byteCount}})}});
        EXPECT_EQ(one.status, row.status) << row.failure;
        EXPECT_EQ(one.raw, many.raw) << row.failure;
    }
}

TEST_F(Preflight, BatchChecksInOrder)
{
    // What cannot be decoded is the server's failure to understand, with the decoder's description.
    for (const auto* undecodable :
         {"", "files", "[]", R"({"device":"x"})", R"({"files":{}})", R"({"files":[1]})",
          R"({"files":[{"filename":"a"}]})", R"({"files":[{"filename":"a","byteCount":1.5}]})",
          R"({"files":[{"filename":"a","byteCount":"1"}]})",
          R"({"files":[{"filename":"a","byteCount":18446744073709551615}]})",
          R"({"files":[{"filename":1,"byteCount":1}]})", R"({"device":5,"files":[]})",
          R"({"files":[{"filename":"a","byteCount":1,"path":7}]})"}) {
        const auto response = post("/v1/upload/preflight/batch", undecodable);
        EXPECT_EQ(response.status, 500) << undecodable;
        EXPECT_FALSE(response.body.empty()) << undecodable;
    }
    EXPECT_NE(batch(json::object()).body.find("files"), std::string::npos);

    expectText(batch({{"files", json::array()}}), 400, "files 不能为空");
    json many = json::array();
    for (int i = 0; i < 501; ++i) {
        many.push_back({{"filename", ""}, {"byteCount", 0}}); // never looked at
    }
    expectText(batch({{"files", many}}), 400, "单次最多 500 个文件");
    expectText(batch({{"files", files({{"a", 1}, {" \n", 1}})}}), 400, "无效的文件名");
    expectText(batch({{"files", files({{"a", 1}, {"b", 0}})}}), 400, "无效的文件大小");
    const std::int64_t sixtyGiB = 64424509440;
    expectText(batch({{"files", files({{"a", sixtyGiB}, {"b", sixtyGiB}})}}), 400, "批量总大小超限");
}

TEST_F(Preflight, BodyDeviceWinsOverTheQueryWhenNotBlank)
{
    server->setRequireReceiveConfirmation(true);
    owner.autoConfirm = true;
    batch({{"device", " Tablet "}, {"files", files({{"a", 1}})}}, "?device=Phone");
    batch({{"device", "  "}, {"files", files({{"a", 1}})}}, "?device=Phone");
    ASSERT_TRUE(owner.waitForBatches(2));
    EXPECT_EQ(owner.batches()[0][0].deviceFolder, "Tablet");
    EXPECT_EQ(owner.batches()[1][0].deviceFolder, "Phone");
}

TEST_F(Preflight, ABatchBodyCutShortIsRefused)
{
    TestConnection truncated(port);
    truncated.send("POST /v1/upload/preflight/batch HTTP/1.1\r\nContent-Length: 50\r\n\r\n{");
    truncated.shutdownWrite();
    const auto reply = parseReply(truncated.readAll()).value_or(HttpReply{});
    EXPECT_EQ(reply.status, 400);
    EXPECT_EQ(reply.body, "上传中断，文件不完整");
}

// A file of a picked folder is approved for its folder: the question names the folder with the file, and
// the ticket opens that folder only (a ticket is used up by a request that does not match it).
TEST_F(Preflight, AFileOfAFolderIsApprovedForThatFolderOnly)
{
    server->setRequireReceiveConfirmation(true);
    json items = json::array();
    const std::vector<std::pair<std::string, std::string>> picked{
        {"a.txt", "Trip/../Day 1"}, {"b.txt", "Trip"}, {" c.txt ", ""}};
    for (const auto& [name, path] : picked) {
        items.push_back({{"filename", name}, {"byteCount", 3}});
        if (!path.empty()) {
            items.back()["path"] = path;
        }
    }
    HttpReply reply;
    std::thread client([&] {
        reply = post("/v1/upload/preflight/batch", json{{"device", "Phone"}, {"files", items}}.dump());
    });
    ASSERT_TRUE(owner.waitForBatches(1));
    const auto question = owner.batches().front();
    ASSERT_EQ(question.size(), 3U);
    EXPECT_EQ(question[0].fileName, "Trip/Day 1/a.txt");
    EXPECT_EQ(question[1].fileName, "Trip/b.txt");
    EXPECT_EQ(question[2].fileName, "c.txt");
    EXPECT_EQ(question[1].byteCount, 3);
    EXPECT_EQ(question[1].deviceFolder, "Phone");
    owner.answerBatch(0, true);
    client.join();
    ASSERT_EQ(reply.status, 200) << reply.body;
    const auto tickets = json::parse(reply.body)["items"];
    // Each ticket names the requested file, trimmed, without its folder.
    const std::string ticketNames[] = {"a.txt", "b.txt", "c.txt"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(tickets[i], (json{{"uploadId", question[i].uploadID.text()}, {"filename", ticketNames[i]}}));
    }

    const auto uploadWith = [&](std::size_t i, const std::string& nameAndPath) {
        return post("/v1/upload?device=Phone&uploadId=" + tickets[i]["uploadId"].get<std::string>() +
                        "&filename=" + nameAndPath,
                    "abc", "Content-Type: application/octet-stream\r\n");
    };
    EXPECT_EQ(uploadWith(1, "b.txt&path=Other").status, 403);
    EXPECT_EQ(uploadWith(2, "c.txt&path=Trip").status, 403);
    const auto saved = uploadWith(0, "a.txt&path=Trip%2FDay%201");
    ASSERT_EQ(saved.status, 200) << saved.body;
    EXPECT_EQ(json::parse(saved.body)["path"], "Trip/Day 1");
    EXPECT_TRUE(std::filesystem::exists(saveFolder.path() / "Phone" / "Trip" / "Day 1" / "a.txt"));
    EXPECT_FALSE(std::filesystem::exists(saveFolder.path() / "Phone" / "Other" / "b.txt"));
    EXPECT_FALSE(std::filesystem::exists(saveFolder.path() / "Phone" / "Trip" / "c.txt"));
}

} // namespace
} // namespace ferrylantern::test
