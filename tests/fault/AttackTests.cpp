// What someone on the same network (or a page in the desktop user's browser) can try, tried over
// loopback: each attack is bounded in count and time, and each test says what happens now and
// measures it. Distinct loopback addresses (127.0.0.2, 127.0.0.3, …) play distinct clients.
#include "tests/fault/FaultFixture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <future>
#include <nlohmann/json.hpp>

namespace ferrylantern::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// 127.0.0.(2 + index): a client of its own.
std::string clientAddress(int index)
{
    return "127.0." + std::to_string((2 + index) / 250) + "." + std::to_string(2 + index % 250);
}

class Attacks : public FaultTest
{
protected:
    HttpReply verify(const std::string& source, std::string_view pin)
    {
        return sendRequest(port, buildRequest("POST", "/v1/pin/verify", "", nlohmann::json{{"pin", pin}}.dump()),
                           source.c_str());
    }

    HttpReply uploadWithSession(const HttpReply& verified)
    {
        const std::string token = nlohmann::json::parse(verified.body)["sessionToken"];
        return upload(port, {"filename=in.bin&device=Phone", 3, 4096, "X-FerryLantern-Session: " + token + "\r\n"});
    }
};

TEST_F(Attacks, SlowConnectionsFromOneAddressHoldUpNobodyElse)
{
    start();
    constexpr int slowCount = 1100;
    const auto before = server->snapshot();
    std::vector<std::unique_ptr<TestConnection>> slow;
    for (int i = 0; i < slowCount; ++i) {
        slow.push_back(std::make_unique<TestConnection>(port, 2s, "127.0.0.2"));
        slow.back()->send("P"); // a head that goes on for ever, a byte now and then
    }
    const auto holding = server->snapshot();
    const UploadRequest request{"filename=meanwhile.bin&device=Phone", 21, 1 << 20, ""};
    const auto uploadStart = Clock::now();
    const auto reply = upload(port, request, 10s);
    const double uploadSeconds = secondsSince(uploadStart);
    EXPECT_EQ(reply.status, 200) << reply.body;
    EXPECT_LT(uploadSeconds, 5.0);
    EXPECT_TRUE(holdsGeneratedContent(saveDirectory / "Phone" / "meanwhile.bin", request.seed, request.size));
    // The server accepts in order: the first connections are held, every later one was refused.
    int refusedAtOnce = 0;
    for (std::size_t i = 128; i < slow.size(); ++i) {
        std::string answer;
        refusedAtOnce += slow[i]->readUntil("\r\n\r\n", answer) && answer.starts_with("HTTP/1.1 503");
    }
    EXPECT_GE(refusedAtOnce, slowCount - 128);
    slow.clear();
    EXPECT_TRUE(eventually([&] { return server->snapshot().threads <= before.threads + 1; }, 20s));

    reportFigure("slow connections from 127.0.0.2 / refused 503 at once",
                 std::to_string(slowCount) + " / " + std::to_string(refusedAtOnce));
    reportFigure("server threads idle / while held",
                 std::to_string(before.threads) + " / " + std::to_string(holding.threads));
    reportFigure("1 MiB upload from 127.0.0.1 meanwhile (s)", formatted(uploadSeconds, 3));
}

TEST_F(Attacks, UnfinishedHeadsStayWithinTheirBudget)
{
    start();
    constexpr int headCount = 300;
    const std::string almostMiB(1024 * 1024 - 64, 'a');
    const auto before = server->snapshot();
    std::vector<std::unique_ptr<TestConnection>> heads;
    for (int i = 0; i < headCount; ++i) {
        heads.push_back(std::make_unique<TestConnection>(port, 2s, clientAddress(i % 10).c_str()));
        heads.back()->send("GET /?x=" + almostMiB); // no blank line: the head never ends
    }
    const auto holding = server->snapshot();
    const int refused = headCount - (holding.threads - before.threads);
    EXPECT_LT(holding.rssMiB - before.rssMiB, 64.0);
    EXPECT_EQ(sendRequest(port, buildRequest("GET", "/v1/info")).status, 200);

    reportFigure("RSS idle / holding 300 unfinished 1 MiB heads from 10 addresses (MiB)",
                 formatted(before.rssMiB) + " / " + formatted(holding.rssMiB));
    reportFigure("heads refused (400) once the budget was spent / still held",
                 std::to_string(refused) + " / " + std::to_string(headCount - refused));
}

TEST_F(Attacks, QuestionsOfClientsThatHungUpAreWithdrawnAndFreeTheirThreads)
{
    start({"--confirm", "ask"});
    constexpr int questionCount = 500;
    constexpr int perAddress = 8;
    const auto before = server->snapshot();
    const auto question = [](const std::string& name) {
        return buildRequest("POST", "/v1/upload/preflight?filename=" + name + ".bin&byteCount=10&device=Spam");
    };
    std::vector<std::unique_ptr<TestConnection>> askers;
    for (int i = 0; i < questionCount; ++i) {
        askers.push_back(std::make_unique<TestConnection>(port, 5s, clientAddress(i / perAddress).c_str()));
        askers.back()->send(question("q" + std::to_string(i)));
    }
    ASSERT_TRUE(eventually([&] { return server->snapshot().threads >= before.threads + questionCount; }, 20s));
    const auto waiting = server->snapshot();
    // One more from an address that has its share waiting is refused at once.
    const auto ninth = sendRequest(port, question("n"), clientAddress(0).c_str());
    EXPECT_EQ(ninth.status, 429);
    EXPECT_EQ(ninth.body, "等待确认的请求过多，请稍后再试");

    const auto hangUp = Clock::now();
    askers.clear();
    EXPECT_TRUE(eventually([&] { return server->snapshot().threads <= before.threads + 1; }, 30s));
    const double freedSeconds = secondsSince(hangUp);

    // A real phone's batch is the next question on the terminal, not the 501st.
    auto phone = std::async(std::launch::async, [&] {
        return sendRequest(port, buildRequest("POST", "/v1/upload/preflight/batch", "",
                                              R"({"device":"Real","files":[{"filename":"a.jpg","byteCount":3}]})"));
    });
    ASSERT_TRUE(eventually(
        [&] { return server->output().find("Receive a.jpg (3 bytes) from Real?") != std::string::npos; }, 20s))
        << server->output().substr(server->output().size() > 2000 ? server->output().size() - 2000 : 0);
    server->answer("y");
    const auto phoneReply = phone.get();
    EXPECT_EQ(phoneReply.status, 200) << phoneReply.body;

    reportFigure("server threads idle / 500 questions from 63 addresses waiting / after hang-up",
                 std::to_string(before.threads) + " / " + std::to_string(waiting.threads) + " / " +
                     std::to_string(server->snapshot().threads));
    reportFigure("threads freed within (s)", formatted(freedSeconds, 1));
}

TEST_F(Attacks, TicketsStayBoundedPerAddressAndLookupsStayQuick)
{
    start();
    constexpr int preflights = 2500;
    const auto before = server->snapshot();
    int issued = 0;
    int refused = 0;
    std::string lastTicket;
    const auto floodStart = Clock::now();
    for (int i = 0; i < preflights; ++i) {
        const auto reply =
            sendRequest(port, buildRequest("POST", "/v1/upload/preflight?filename=t.bin&byteCount=4&device=Flood"));
        if (reply.status == 200) {
            ++issued;
            lastTicket = nlohmann::json::parse(reply.body)["uploadId"];
        } else if (reply.status == 429) {
            ++refused;
        }
    }
    const double floodSeconds = secondsSince(floodStart);
    EXPECT_EQ(issued, 2000);
    EXPECT_EQ(refused, preflights - 2000);
    // Another address still gets tickets, and a ticket is found among thousands at once.
    const auto other = buildRequest("POST", "/v1/upload/preflight?filename=o.bin&byteCount=4&device=Other");
    EXPECT_EQ(sendRequest(port, other, "127.0.0.2").status, 200);
    const auto uploadStart = Clock::now();
    const auto reply = upload(port, {"filename=t.bin&device=Flood&uploadId=" + lastTicket, 5, 4, ""});
    const double uploadMs = secondsSince(uploadStart) * 1000;
    EXPECT_EQ(reply.status, 200) << reply.body;

    reportFigure("single preflights from one address (s)",
                 std::to_string(preflights) + " in " + formatted(floodSeconds));
    reportFigure("RSS before / after (MiB)", formatted(before.rssMiB) + " / " + formatted(server->snapshot().rssMiB));
    reportFigure("upload with the last ticket (ms)", formatted(uploadMs, 1));
}

// Requests that are refused from their head are answered at once, whatever body they announce.
TEST_F(Attacks, RefusalsAreAnsweredBeforeTheBody)
{
    start({"--pin", "2468"});
    const std::string gib = "Content-Length: 1073741824\r\n";
    const struct
    {
        const char* attack;
        std::string head;
        int status;
    } cases[] = {
        {"upload without a session", "POST /v1/upload?filename=a.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n" + gib, 401},
        {"PIN body over its limit", "POST /v1/pin/verify HTTP/1.1\r\nHost: 127.0.0.1\r\n" + gib, 400},
        {"batch body over its limit", "POST /v1/upload/preflight/batch HTTP/1.1\r\n" + gib, 413},
        {"upload from another site's page",
         "POST /v1/upload?filename=a.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://evil.example\r\n" + gib, 403},
        {"DNS rebinding", "POST /v1/upload?filename=a.bin HTTP/1.1\r\nHost: evil.example:53317\r\n" + gib, 421},
        {"unknown route", "PUT /x HTTP/1.1\r\n" + gib, 404},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.attack);
        TestConnection connection(port, 5s);
        const auto sent = Clock::now();
        ASSERT_TRUE(connection.send(row.head + "\r\n" + std::string(4096, 'x')));
        std::string answer;
        ASSERT_TRUE(connection.readUntil("\r\n\r\n", answer));
        const double seconds = secondsSince(sent);
        EXPECT_EQ(parseReply(answer + "")->status, row.status) << answer;
        EXPECT_LT(seconds, 1.0);
        reportFigure(std::string(row.attack) + ": 1 GiB announced, answered after 4 KiB (ms)",
                     std::to_string(row.status) + " in " + formatted(seconds * 1000, 1));
    }
    EXPECT_TRUE(filesUnder(saveDirectory).empty());
}

TEST_F(Attacks, HostAndOriginKeepOtherSitesOut)
{
    start();
    const std::string own = "http://127.0.0.1:" + std::to_string(port);
    char hostName[256] = {};
    ASSERT_EQ(gethostname(hostName, sizeof hostName - 1), 0);
    const std::string machine = hostName;
    const auto page = [](const std::string& hostLine) { return "GET / HTTP/1.1\r\n" + hostLine + "\r\n"; };
    const auto upload = [](const std::string& device, const std::string& originLine) {
        return buildRequest("POST", "/v1/upload?filename=x.txt&device=" + device, originLine, "x");
    };
    const struct
    {
        const char* row;
        std::string request;
        int status;
    } cases[] = {
        {"page, own Host", buildRequest("GET", "/"), 200},
        {"page, no Host (curl -H 'Host:')", page(""), 200},
        {"page, Host localhost", page("Host: localhost:" + std::to_string(port) + "\r\n"), 200},
        {"page, rebinding Host", page("Host: evil.example\r\n"), 421},
        {"page, this machine's name", page("Host: " + machine + ".local\r\n"), 200},
        {"page, a domain that starts with this machine's name", page("Host: " + machine + ".evil.example\r\n"), 421},
        {"info, rebinding Host", "GET /v1/info HTTP/1.1\r\nHost: evil.example:" + std::to_string(port) + "\r\n\r\n",
         421},
        {"upload, own Origin", upload("Page", "Origin: " + own + "\r\n"), 200},
        {"upload, no Origin (curl)", upload("Curl", ""), 200},
        {"upload, foreign Origin", upload("Evil", "Origin: http://evil.example\r\n"), 403},
        {"upload, Origin null", upload("Evil", "Origin: null\r\n"), 403},
        {"PIN, foreign Origin",
         buildRequest("POST", "/v1/pin/verify", "Origin: http://evil.example\r\n", R"({"pin":"1"})"), 403},
        {"preflight answer to any origin stays",
         buildRequest("OPTIONS", "/v1/upload", "Origin: http://evil.example\r\n"), 204},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.row);
        EXPECT_EQ(sendRequest(port, row.request).status, row.status);
    }
    EXPECT_FALSE(std::filesystem::exists(saveDirectory / "Evil"));
}

// Wrong attempts from one address are slowed down by the lock-out (five free tries, then 429 with
// Retry-After), while another address still verifies at once and may upload.
TEST_F(Attacks, PINGuessingFromOneAddressIsLockedOutWhileAnotherVerifies)
{
    start({"--pin", "2468"});
    constexpr int attempts = 100;
    int refusedAsWrong = 0;
    int lockedOut = 0;
    int longestRetryAfter = 0;
    int shortestRetryAfter = 1 << 30;
    const auto started = Clock::now();
    for (int i = 0; i < attempts; ++i) {
        const auto reply = verify("127.0.0.1", "1357");
        if (reply.status == 403) {
            ++refusedAsWrong;
            EXPECT_LT(i, 5) << "a wrong PIN was checked during the lock-out";
        } else if (reply.status == 429) {
            ++lockedOut;
            const int retryAfter = std::stoi(reply.header("retry-after").value_or("0"));
            longestRetryAfter = std::max(longestRetryAfter, retryAfter);
            shortestRetryAfter = std::min(shortestRetryAfter, retryAfter);
            EXPECT_EQ(reply.body, R"({"ok":false})");
        } else {
            ADD_FAILURE() << "attempt " << i << ": " << reply.status << " " << reply.body;
        }
    }
    const double seconds = secondsSince(started);
    EXPECT_EQ(refusedAsWrong, 5);
    EXPECT_EQ(lockedOut, attempts - 5);
    EXPECT_GE(shortestRetryAfter, 1);
    EXPECT_LE(longestRetryAfter, 30);

    EXPECT_EQ(verify("127.0.0.1", "2468").status, 429) << "locked out, the right PIN is refused unchecked";
    const auto other = verify("127.0.0.2", "2468");
    ASSERT_EQ(other.status, 200) << other.body;
    const auto reply = uploadWithSession(other);
    EXPECT_EQ(reply.status, 200) << reply.body;

    reportFigure("wrong attempts from 127.0.0.1 (s)", std::to_string(attempts) + " in " + formatted(seconds, 2));
    reportFigure("Retry-After seen (s)",
                 std::to_string(shortestRetryAfter) + " to " + std::to_string(longestRetryAfter));
}

// Guessing from many addresses draws on one allowance for all of them; phones with a session go on.
TEST_F(Attacks, PINGuessingFromManyAddressesHoldsEveryoneBack)
{
    start({"--pin", "2468"});
    const auto phone = verify("127.0.0.1", "2468");
    ASSERT_EQ(phone.status, 200);

    int checked = 0;
    int heldBack = 0;
    int retryAfter = 0;
    for (int i = 0; i < 40; ++i) { // 40 addresses, each within its own free attempts
        const auto reply = verify(clientAddress(i), "1357");
        if (reply.status == 403) {
            ++checked;
        } else if (reply.status == 429) {
            ++heldBack;
            retryAfter = std::stoi(reply.header("retry-after").value_or("0"));
        }
    }
    EXPECT_EQ(checked, 10);
    EXPECT_EQ(heldBack, 30);
    EXPECT_GT(retryAfter, 500);
    EXPECT_EQ(verify(clientAddress(100), "2468").status, 429) << "the right PIN is not checked meanwhile";
    const auto reply = uploadWithSession(phone);
    EXPECT_EQ(reply.status, 200) << reply.body;
    EXPECT_TRUE(eventually([&] { return server->output().find("someone is guessing the PIN") != std::string::npos; }));

    reportFigure("Retry-After once held back (s)", std::to_string(retryAfter));
}

} // namespace
} // namespace ferrylantern::test
