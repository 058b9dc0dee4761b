// Both ways over real sockets: texts from the phone (POST "/v1/text"), and what the desktop shares
// (GET "/v1/shared", GET and HEAD "/v1/shared/ID") with ranges, gates, missing files and progress;
// and the pure rules underneath (text limits, ranges, download header values).
#include "server/ByteRange.h"
#include "server/DownloadHeaders.h"
#include "server/TextRules.h"
#include "tests/server/ServerFixture.h"

#include <nlohmann/json.hpp>

namespace ferrylantern::test {
namespace {

using nlohmann::json;

// MARK: The pure rules

TEST(TextRules, APreviewIsTheFirstLineThatSaysSomethingCutWhole)
{
    EXPECT_EQ(textPreview("\n  \n  Shopping list  \nmilk", 40), "Shopping list");
    EXPECT_EQ(textPreview("abcdef", 3), "abc…");
    EXPECT_EQ(textPreview("👩‍👩‍👧👩‍👩‍👧", 1),
              "👩‍👩‍👧…"); // a family is one character
    EXPECT_EQ(textPreview("evil\u202Etxt.exe", 40), "evil_txt.exe");
}

TEST(ByteRange, AnswersEachFormOfRangeForAFileOf1000Bytes)
{
    constexpr std::int64_t size = 1000;
    const RangeAnswer whole{RangeOutcome::whole, {0, 999}};
    const RangeAnswer none{RangeOutcome::unsatisfiable, {0, 999}};
    const auto part = [](std::int64_t first, std::int64_t last) {
        return RangeAnswer{RangeOutcome::part, {first, last}};
    };
    const struct
    {
        std::optional<std::string_view> field;
        RangeAnswer answer;
    } rows[] = {
        {std::nullopt, whole},
        {"bytes=0-0", part(0, 0)},
        {"bytes=400-599", part(400, 599)},
        {"bytes=999-", part(999, 999)},
        {"bytes=500-", part(500, 999)},
        {"bytes=900-5000", part(900, 999)},             // the last position is clamped
        {"bytes=0-99999999999999999999", part(0, 999)}, // too large for 64 bits: past the end
        {"bytes=-1", part(999, 999)},
        {"bytes=-5000", part(0, 999)}, // more than there is: all of it
        {"BYTES = 1-2", whole},        // no space is allowed before "="
        {"Bytes=1-2", part(1, 2)},
        {" bytes=1-2 ", part(1, 2)},
        {"bytes=1000-", none},
        {"bytes=99999999999999999999-", none},
        {"bytes=-0", none},
        {"bytes=0-1, 5-6", whole}, // several ranges: the whole file
        {"bytes=0-1,,", part(0, 1)},
        {"bytes=2000-, -0", none},
        {"bytes=2000-, 0-1", whole},
        {"bytes=5-1", whole}, // invalid: ignored
        {"bytes=abc", whole},
        {"bytes=", whole},
        {"bytes=--1", whole},
        {"items=0-1", whole},
        {"bytes=+1-2", whole},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(answerRange(row.field, size), row.answer) << row.field.value_or("(none)");
    }
}

TEST(DownloadHeaders, DispositionHasAnASCIIFallbackAndTheRealNameEncoded)
{
    const struct
    {
        std::string_view name;
        std::string_view value;
    } rows[] = {
        {"photo.jpg", R"(attachment; filename="photo.jpg")"},
        {"海边 照片.jpg",
         R"(attachment; filename="______ ______.jpg"; filename*=UTF-8''%E6%B5%B7%E8%BE%B9%20%E7%85%A7%E7%89%87.jpg)"},
        {"a\"b\\c%d.txt", R"(attachment; filename="a_b_c_d.txt"; filename*=UTF-8''a%22b%5Cc%25d.txt)"},
        {"line\r\nSet-Cookie: x",
         R"(attachment; filename="line__Set-Cookie: x"; filename*=UTF-8''line%0D%0ASet-Cookie%3A%20x)"},
        {"naïve.txt", R"(attachment; filename="na__ve.txt"; filename*=UTF-8''na%C3%AFve.txt)"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(attachmentDisposition(row.name), row.value) << row.name;
    }
    EXPECT_EQ(httpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
    // Rewritten a nanosecond later, a file is another version.
    EXPECT_NE(fileEntityTag(0x1234, 1000, 1700000000123456789), fileEntityTag(0x1234, 1000, 1700000000123456790));
}

// MARK: Texts from the phone

using TextFromPhone = RunningServer;

TEST_F(TextFromPhone, ArrivesWholeWithTheSenderNamedAsForFiles)
{
    const struct
    {
        const char* name;
        std::string body;
        std::string query;
        std::string text;
        std::string deviceFolder;
    } rows[] = {
        {"Chinese, emoji and line breaks", json{{"text", "你好\n👩‍👩‍👧 🇨🇳\r\n\tend"}}.dump(),
         "?device=Phone", "你好\n👩‍👩‍👧 🇨🇳\r\n\tend", "Phone"},
        {"escaped surrogate pair", R"({"text":"\ud83d\ude00 \u4f60"})", "?device=Phone", "😀 你", "Phone"},
        {"control characters kept as sent", json{{"text", std::string("a\x01\x1b[31mb", 8)}}.dump(), "",
         std::string("a\x01\x1b[31mb", 8), "device-127-0-0-1"},
        {"exactly 64 KiB", json{{"text", std::string(65536, 'x')}}.dump(), "?device=Phone", std::string(65536, 'x'),
         "Phone"},
        {"64 KiB of escapes", json{{"text", std::string(65536, '\x01')}}.dump(), "?device=Phone",
         std::string(65536, '\x01'), "Phone"},
        {"the body's device wins", json{{"text", "t"}, {"device", "  Tablet "}}.dump(), "?device=Phone", "t", "Tablet"},
        {"a blank body device does not", json{{"text", "t"}, {"device", " "}}.dump(), "?device=Phone", "t", "Phone"},
        {"unknown members ignored", R"({"text":"t","extra":[1,2]})", "?devicename=P2", "t", "P2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto before = owner.texts().size();
        const auto reply = post("/v1/text" + row.query, row.body);
        ASSERT_EQ(reply.status, 200) << reply.body;
        const auto texts = owner.texts();
        ASSERT_EQ(texts.size(), before + 1);
        const auto& record = texts.back();
        EXPECT_EQ(record.text, row.text);
        EXPECT_EQ(record.deviceFolder, row.deviceFolder);
        EXPECT_EQ(json::parse(reply.body),
                  (json{{"id", record.id.text()}, {"byteCount", row.text.size()}, {"deviceFolder", row.deviceFolder}}));
    }
    EXPECT_TRUE(std::filesystem::is_empty(saveFolder.path())); // nothing is written to disk
}

TEST_F(TextFromPhone, RefusesWhatIsNotATextWithClearAnswers)
{
    const struct
    {
        const char* name;
        std::string body;
        int status;
        std::string answer;
    } rows[] = {
        {"one byte over 64 KiB", json{{"text", std::string(65537, 'x')}}.dump(), 413, "文字过长，最多 64 KiB"},
        {"empty", R"({"text":""})", 400, "文字不能为空"},
        {"only white space", R"({"text":" \n\t\u3000 "})", 400, "文字不能为空"},
        {"malformed UTF-8", "{\"text\":\"a\xff\"}", 400, "文字不是有效的 UTF-8"},
        {"a surrogate encoded in UTF-8", "{\"text\":\"\xed\xa0\x80\"}", 400, "文字不是有效的 UTF-8"},
        {"a lone surrogate escaped", R"({"text":"\ud800"})", 400, "无效的文字请求"},
        {"not JSON", "hello", 400, "无效的文字请求"},
        {"no body", "", 400, "无效的文字请求"},
        {"text not a string", R"({"text":5})", 400, "无效的文字请求"},
        {"no text member", R"({"device":"x"})", 400, "无效的文字请求"},
        {"an array", R"(["t"])", 400, "无效的文字请求"},
    };
    for (const auto& row : rows) {
        const auto reply = post("/v1/text?device=Phone", row.body);
        EXPECT_EQ(reply.status, row.status) << row.name;
        EXPECT_EQ(reply.body, row.answer) << row.name;
    }
    EXPECT_TRUE(owner.texts().empty());
}

// MARK: Shares to the phone

class SharedToPhone : public RunningServer
{
protected:
    SharedItem shareFile(const std::string& name, std::string_view content)
    {
        const auto path = writeFile(sharedFolder.path() / name, content);
        auto item = shares->addFile(path);
        EXPECT_TRUE(item);
        return item ? *item : SharedItem{};
    }

    std::string itemPath(const SharedItem& item) const { return "/v1/shared/" + item.id.text(); }

    HttpReply download(const SharedItem& item, std::string_view headerLines = "")
    {
        return get(itemPath(item), headerLines);
    }

    TemporaryFolder sharedFolder;
};

TEST_F(SharedToPhone, TheListGivesFilesAndTextsInTheOrderShared)
{
    EXPECT_EQ(get("/v1/shared").body, R"({"items":[]})");
    const auto photo = shareFile("海边.jpg", "0123456789");
    const auto note = shares->addText("Wi-Fi: 4821 \"guest\"\n第二行");
    ASSERT_TRUE(note);
    const auto reply = get("/v1/shared");
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(reply.header("content-type"), "application/json");
    EXPECT_EQ(json::parse(reply.body),
              json::parse(R"({"items":[{"id":")" + photo.id.text() +
                          R"(","kind":"file","name":"海边.jpg","byteCount":10},{"id":")" + note->id.text() +
                          R"(","kind":"text","byteCount":29,"text":"Wi-Fi: 4821 \"guest\"\n第二行"}]})"));

    // The size is the file's now, not when it was shared.
    writeFile(photo.path, "0123456789abcdef");
    EXPECT_EQ(json::parse(get("/v1/shared").body)["items"][0]["byteCount"], 16);
}

TEST_F(SharedToPhone, ADownloadIsByteIdenticalAndSaysHowToSaveAndResumeIt)
{
    // Longer than one sendfile piece, so the body crosses pieces.
    const auto content = randomBytes(5 * 1024 * 1024 + 123);
    const auto item = shareFile("海边 照片.bin", content);
    const auto reply = download(item, "User-Agent: Mozilla/5.0 (iPhone; CPU iPhone OS 17_0 like Mac OS X)\r\n");
    ASSERT_EQ(reply.status, 200);
    EXPECT_TRUE(reply.body == content);
    EXPECT_EQ(reply.header("content-disposition"), attachmentDisposition("海边 照片.bin"));
    ASSERT_TRUE(reply.header("etag"));

    ASSERT_TRUE(eventually([&] { return !eventsOf<DownloadFinished>(owner.downloadEvents()).empty(); }));
    const auto events = owner.downloadEvents();
    const auto started = std::get<DownloadStarted>(events.front());
    EXPECT_EQ(started.shareID, item.id);
    EXPECT_EQ(started.deviceFolder, "iPhone");
    EXPECT_EQ(std::get<DownloadUpdated>(events[events.size() - 2]).bytesSent,
              static_cast<std::int64_t>(content.size()));
    EXPECT_TRUE(std::holds_alternative<DownloadFinished>(events.back()));

    // HEAD: the same head, no body, and no download to report.
    const auto head = sendRequest(port, buildRequest("HEAD", itemPath(item)));
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.header("content-length"), std::to_string(content.size()));
    EXPECT_EQ(head.header("etag"), reply.header("etag"));
    EXPECT_TRUE(head.body.empty());
    EXPECT_EQ(eventsOf<DownloadStarted>(owner.downloadEvents()).size(), 1U);
}

// The forms of the field are ByteRange's; here the answer's status, fields and bytes, and a resume
// against a file that changed since.
TEST_F(SharedToPhone, RangesGiveTheBytesAskedForOfTheFileAsItWas)
{
    const auto content = randomBytes(10000);
    const auto item = shareFile("data.bin", content);
    const auto part = download(item, "Range: bytes=4000-4999\r\n");
    EXPECT_EQ(part.statusLine, "HTTP/1.1 206 Partial Content");
    EXPECT_TRUE(part.body == content.substr(4000, 1000));
    EXPECT_EQ(part.header("content-length"), "1000");
    EXPECT_EQ(part.header("content-range"), "bytes 4000-4999/10000");
    const auto several = download(item, "Range: bytes=0-9, 20-29\r\n");
    EXPECT_EQ(several.status, 200);
    EXPECT_TRUE(several.body == content);
    EXPECT_FALSE(several.header("content-range"));
    for (const char* unsatisfiable : {"bytes=10000-", "bytes=-0"}) {
        const auto reply = download(item, "Range: " + std::string(unsatisfiable) + "\r\n");
        EXPECT_EQ(reply.statusLine, "HTTP/1.1 416 Range Not Satisfiable") << unsatisfiable;
        EXPECT_EQ(reply.header("content-range"), "bytes */10000") << unsatisfiable;
        EXPECT_EQ(reply.body, "请求的范围超出文件大小");
    }

    const auto tag = *part.header("etag");
    const auto ifRange = [&](const std::string& validator) {
        return download(item, "Range: bytes=9990-\r\nIf-Range: " + validator + "\r\n");
    };
    EXPECT_EQ(ifRange(" " + tag).body, content.substr(9990));
    EXPECT_EQ(ifRange(*part.header("last-modified")).status, 206);
    EXPECT_EQ(ifRange("W/" + tag).status, 200); // a weak tag never matches
    EXPECT_EQ(ifRange("Sun, 06 Nov 1994 08:49:37 GMT").status, 200);
    writeFile(item.path, "second, longer version");
    const auto resumed = download(item, "Range: bytes=6-\r\nIf-Range: " + tag + "\r\n");
    EXPECT_EQ(resumed.status, 200);
    EXPECT_EQ(resumed.body, "second, longer version");
    EXPECT_NE(resumed.header("etag"), tag);
}

TEST_F(SharedToPhone, WithThePINEveryRouteButThePageNeedsASession)
{
    const auto item = shareFile("a.txt", "secret");
    setPIN(true, "1234");
    const std::string text = R"({"text":"t"})";
    for (const auto& request : {buildRequest("GET", "/v1/shared"), buildRequest("GET", itemPath(item)),
                                buildRequest("HEAD", itemPath(item)), buildRequest("POST", "/v1/text", "", text),
                                buildRequest("POST", "/v1/upload?filename=a.txt&device=Phone", "", "data")}) {
        const auto reply = sendRequest(port, request);
        EXPECT_EQ(reply.status, 401) << request;
        EXPECT_EQ(reply.body.find("secret"), std::string::npos);
        if (!request.starts_with("HEAD")) {
            EXPECT_EQ(reply.body, "需要 PIN 验证") << request;
        }
    }
    EXPECT_TRUE(owner.events().empty());
    const auto token = verifyPIN("1234");
    ASSERT_FALSE(token.empty());
    const auto header = "X-FerryLantern-Session: " + token + "\r\n";
    // A plain download link carries the session as the cookie the page sets.
    const auto cookie = "Cookie: ferrylantern_session=" + token + "\r\n";
    EXPECT_EQ(get("/v1/shared", header).status, 200);
    EXPECT_EQ(download(item, cookie).body, "secret");
    EXPECT_EQ(post("/v1/text", text, header).status, 200);
    EXPECT_EQ(post("/v1/text", text, cookie).status, 200);
    EXPECT_EQ(owner.texts().size(), 2U);
}

TEST_F(SharedToPhone, OtherSitesCannotReadWhatIsShared)
{
    const auto item = shareFile("a.txt", "private");
    const std::string own = "http://127.0.0.1:" + std::to_string(port);
    for (const auto& target : {std::string("/v1/shared"), itemPath(item)}) {
        EXPECT_EQ(get(target, "Origin: http://evil.example\r\n").status, 403) << target;
        EXPECT_EQ(get(target, "Origin: null\r\n").body, "跨站请求已拒绝") << target;
        EXPECT_EQ(get(target, "Host: attacker.example\r\n").status, 421) << target; // DNS rebinding
        EXPECT_EQ(get(target, "Origin: " + own + "\r\n").status, 200) << target;
    }
    EXPECT_EQ(post("/v1/text", R"({"text":"t"})", "Origin: http://evil.example\r\n").status, 403);
    EXPECT_TRUE(owner.texts().empty());
    // Other GET routes answer foreign pages as they always did.
    EXPECT_EQ(get("/v1/info", "Origin: http://evil.example\r\n").status, 200);
}

// Unknown and removed shares are 404; a shared file deleted or replaced by a folder on disk is 404 and
// marked missing, once, until it returns.
TEST_F(SharedToPhone, UnknownRemovedAndMissingSharesAre404)
{
    const auto text = shares->addText("a text is read from the list");
    ASSERT_TRUE(text);
    for (const std::string& target :
         std::vector<std::string>{"/v1/shared/" + Uuid::random().text(), "/v1/shared/not-an-id",
                                  "/v1/shared/..%2F..%2Fetc%2Fpasswd", "/v1/shared/" + text->id.text()}) {
        const auto reply = get(target);
        EXPECT_EQ(reply.status, 404) << target;
        EXPECT_EQ(reply.body, "分享不存在或已移除") << target;
    }
    EXPECT_EQ(get("/v1/shared/").body, "Not Found");
    ASSERT_TRUE(shares->remove(text->id));
    const auto item = shareFile("a.txt", "a");
    EXPECT_EQ(download(item).body, "a");
    ASSERT_TRUE(shares->remove(item.id));
    EXPECT_EQ(download(item).body, "分享不存在或已移除");

    const auto gone = shareFile("gone.txt", "soon gone");
    std::filesystem::remove(gone.path);
    const auto reply = download(gone);
    EXPECT_EQ(reply.status, 404);
    EXPECT_EQ(reply.body, "分享的文件已不存在");
    EXPECT_TRUE(shares->find(gone.id)->missing);
    EXPECT_EQ(get("/v1/shared").body, R"({"items":[]})");
    std::filesystem::create_directory(gone.path);
    EXPECT_EQ(download(gone).body, "分享的文件已不存在");
    EXPECT_EQ(owner.missingChanges(), (std::vector<std::pair<Uuid, bool>>{{gone.id, true}}));
    std::filesystem::remove(gone.path);
    writeFile(gone.path, "back again");
    EXPECT_EQ(json::parse(get("/v1/shared").body)["items"].size(), 1U);
    EXPECT_EQ(owner.missingChanges().back(), std::make_pair(gone.id, false));
    EXPECT_EQ(download(gone).body, "back again");
}

TEST_F(SharedToPhone, ADownloadCancelledOrAbandonedEndsAsFailedAndTheServerServesOn)
{
    const auto item = shareFile("big.bin", std::string(64 * 1024 * 1024, 'b'));
    const auto failedCount = [&] { return eventsOf<DownloadFailed>(owner.downloadEvents()).size(); };
    {
        // A client that stops reading: the download waits in sendfile until the desktop cancels it.
        TestConnection stalled(port);
        stalled.send(buildRequest("GET", itemPath(item)));
        ASSERT_TRUE(eventually([&] { return !eventsOf<DownloadStarted>(owner.downloadEvents()).empty(); }));
        const auto id = eventsOf<DownloadStarted>(owner.downloadEvents()).at(0).id;
        server->cancelUpload(id);
        ASSERT_TRUE(eventually([&] { return failedCount() == 1; }));
        EXPECT_EQ(eventsOf<DownloadFailed>(owner.downloadEvents()).at(0).id, id);
    }
    {
        // A phone that drops off mid-download: the broken pipe ends that download, not the process.
        TestConnection vanishing(port);
        vanishing.send(buildRequest("GET", itemPath(item)));
        std::string received;
        ASSERT_TRUE(vanishing.readUntil("\r\n\r\n", received));
        vanishing.abort();
        ASSERT_TRUE(eventually([&] { return failedCount() == 2; }));
    }
    EXPECT_TRUE(eventsOf<DownloadFinished>(owner.downloadEvents()).empty());
    EXPECT_EQ(download(item, "Range: bytes=-3\r\n").body, "bbb");
}

} // namespace
} // namespace ferrylantern::test
