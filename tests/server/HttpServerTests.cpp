// The connection server over real sockets: exact bytes of the fixed answers, head limits, routing,
// interim answers, idle limits and listening-socket lifecycle.
#include "server/RequestHead.h"
#include "tests/server/ServerFixture.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace ferrylantern::test {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view fixedFields = "Connection: close\r\n"
                                         "Access-Control-Allow-Origin: *\r\n"
                                         "Access-Control-Allow-Headers: Content-Type, X-FerryLantern-Session\r\n";

std::string plainTextAnswer(std::string_view statusLine, std::string_view body)
{
    return std::string(statusLine) + "\r\n" + std::string(fixedFields) +
           "Content-Type: text/plain; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           std::string(body);
}

class HttpServer : public ServerTest
{
protected:
    void SetUp() override { startServer(); }
};

TEST_F(HttpServer, AnswersOptionsOnAnyPathWithTheFixedText)
{
    const auto reply = sendRequest(port, buildRequest("OPTIONS", "/anything/at/all", "", "body to drain"));
    EXPECT_EQ(reply.raw, "HTTP/1.1 204 No Content\r\n"
                         "Connection: close\r\n"
                         "Access-Control-Allow-Origin: *\r\n"
                         "Access-Control-Allow-Methods: GET, POST, HEAD, OPTIONS\r\n"
                         "Access-Control-Allow-Headers: Content-Type, X-FerryLantern-Session\r\n"
                         "\r\n");
}

TEST_F(HttpServer, FaviconIsA204WithoutBodyOrContentFields)
{
    const auto reply = get("/favicon.ico");
    EXPECT_EQ(reply.raw, "HTTP/1.1 204 No Content\r\n" + std::string(fixedFields) + "\r\n");
}

TEST_F(HttpServer, UnknownRoutesAre404AndPathsAreCaseSensitive)
{
    EXPECT_EQ(get("/UPLOAD").raw, plainTextAnswer("HTTP/1.1 404 Not Found", "Not Found"));
    EXPECT_EQ(post("/nowhere", "some body").status, 404);
    EXPECT_EQ(sendRequest(port, buildRequest("DELETE", "/")).status, 404);
    // Routes that arrive with the uploads are unknown until then.
    EXPECT_EQ(sendRequest(port, buildRequest("PUT", "/v1/info")).status, 404);
}

TEST_F(HttpServer, ServesThePageOnBothRoutesWhateverTheQuery)
{
    for (const auto* target : {"/", "/upload", "/upload?from=qr", "http://192.168.1.20:53317/upload"}) {
        const auto reply = get(target);
        EXPECT_EQ(reply.status, 200) << target;
        EXPECT_EQ(reply.header("content-type"), "text/html; charset=utf-8");
        EXPECT_NE(reply.body.find("传到 Test Mac"), std::string::npos);
        EXPECT_EQ(reply.header("content-length"), std::to_string(reply.body.size()));
    }
}

TEST_F(HttpServer, LowerCaseMethodsAreServed)
{
    EXPECT_EQ(sendRequest(port, buildRequest("get", "/v1/info")).status, 200);
}

TEST_F(HttpServer, HeadOfThePageHasZeroLengthAndNoBody)
{
    const auto reply = sendRequest(port, buildRequest("HEAD", "/"));
    EXPECT_EQ(reply.raw, "HTTP/1.1 200 OK\r\n" + std::string(fixedFields) +
                             "Content-Type: text/html; charset=utf-8\r\nContent-Length: 0\r\n\r\n");
}

TEST_F(HttpServer, BadHeadsGet400BadRequest)
{
    const std::string badRequest = plainTextAnswer("HTTP/1.1 400 Bad Request", "Bad Request");
    for (const auto* length : {"abc", "-1", "107374182401", "1.5"}) {
        EXPECT_EQ(
            sendRequest(port, "POST /v1/info HTTP/1.1\r\nContent-Length: " + std::string(length) + "\r\n\r\n").raw,
            badRequest)
            << length;
    }
    EXPECT_EQ(sendRequest(port, "GET\r\n\r\n").raw, badRequest);
    EXPECT_EQ(sendRequest(port, "GET /\xfe HTTP/1.1\r\n\r\n").raw, badRequest);
}

TEST_F(HttpServer, AHeadOverOneMebibyteGets400)
{
    TestConnection connection(port);
    std::string head = "GET / HTTP/1.1\r\nX-Filler: ";
    // Exactly one byte over the limit, so the server has read everything when it answers and closes.
    head.append(maxHeadBytes + 1 - head.size(), 'x');
    connection.send(head);
    const auto reply = parseReply(connection.readAll());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 400);
}

TEST_F(HttpServer, AClientThatClosesEarlyGetsNoAnswerAndTheServerGoesOn)
{
    {
        TestConnection connection(port);
        connection.send("GET / HTTP/1.1\r\n");
        connection.shutdownWrite();
        EXPECT_EQ(connection.readAll(), plainTextAnswer("HTTP/1.1 400 Bad Request", "Bad Request"));
    }
    for (int i = 0; i < 20; ++i) {
        // Gone before the page is written: the write fails without SIGPIPE ending this process.
        TestConnection connection(port);
        connection.send(buildRequest("GET", "/"));
        connection.abort();
    }
    EXPECT_EQ(get("/v1/info").status, 200);
}

TEST_F(HttpServer, AnswersExpectContinueBeforeReadingTheBody)
{
    TestConnection connection(port);
    connection.send("POST /v1/pin/verify HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 12\r\n\r\n");
    std::string received;
    ASSERT_TRUE(connection.readUntil("\r\n\r\n", received));
    EXPECT_EQ(received, "HTTP/1.1 100 Continue\r\n\r\n");
    connection.send(R"({"pin":"12"})");
    const auto reply = parseReply(received + connection.readAll());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->body, R"({"ok":true})");
}

TEST_F(HttpServer, SendsNoInterimAnswerWhenItNeedsNoBody)
{
    // The page route never reads a body, so the client hears the final answer only.
    TestConnection connection(port);
    connection.send("GET /v1/info HTTP/1.1\r\nExpect: 100-continue\r\n\r\n");
    const auto raw = connection.readAll();
    EXPECT_TRUE(raw.starts_with("HTTP/1.1 200 OK\r\n")) << raw;
}

TEST_F(HttpServer, FallsBackToAnEphemeralPortWhenThePreferredOneIsTaken)
{
    // The running fixture server holds `port`; a second server that prefers it gets another.
    TransferServerCallbacks callbacks;
    callbacks.onFileReceived = [](const auto&) {};
    ServerOptions options;
    options.preferredPort = port;
    options.sessionStore = &sessions;
    SimpleSocketHTTPServer second(saveFolder.path(), "Second", callbacks, options);
    const auto secondPort = second.start();
    ASSERT_TRUE(secondPort);
    EXPECT_NE(*secondPort, port);
    EXPECT_EQ(second.port(), *secondPort);
    EXPECT_EQ(sendRequest(*secondPort, buildRequest("GET", "/v1/info")).status, 200);
}

TEST_F(HttpServer, StopClosesTheListeningSocket)
{
    server->stop();
    EXPECT_EQ(server->port(), std::nullopt);
    TestConnection connection(port);
    EXPECT_FALSE(connection.isConnected());
}

TEST_F(HttpServer, ServesManyConnectionsAtOnce)
{
    std::vector<std::thread> clients;
    std::atomic<int> served{0};
    for (int i = 0; i < 32; ++i) {
        clients.emplace_back([&] {
            if (sendRequest(port, buildRequest("GET", "/v1/info")).status == 200) {
                ++served;
            }
        });
    }
    for (auto& client : clients) {
        client.join();
    }
    EXPECT_EQ(served, 32);
}

class IdleConnections : public ServerTest
{
protected:
    void SetUp() override
    {
        ServerOptions options;
        options.idleTimeout = 300ms;
        startServer({}, options);
    }
};

TEST_F(IdleConnections, ASilentClientIsAnsweredBadRequestAfterTheIdleLimit)
{
    TestConnection silent(port);
    const auto started = std::chrono::steady_clock::now();
    const auto reply = parseReply(silent.readAll());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 400);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 250ms);
    EXPECT_TRUE(eventually([&] { return server->activeConnectionCount() == 0; }));
}

TEST_F(IdleConnections, ABodyThatStallsIsIncomplete)
{
    TestConnection stalling(port);
    stalling.send("POST /v1/pin/verify HTTP/1.1\r\nContent-Length: 20\r\n\r\n{\"pin\":");
    const auto reply = parseReply(stalling.readAll());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 400);
    EXPECT_EQ(reply->body, "无效的 PIN 请求");
}

// A client that sends a byte now and then, well within the idle limit, still cannot hold a connection:
// the head has a deadline and a body a minimum rate.
class SlowClients : public ServerTest
{
protected:
    void SetUp() override
    {
        ServerOptions options;
        options.headTimeout = 400ms;
        options.minimumBodyRate = {.bytes = 1000, .per = 400ms};
        startServer({}, options);
    }

    // Sends `bytes` one at a time until the server answers; returns the answer and how long it took.
    std::pair<std::optional<HttpReply>, std::chrono::milliseconds> trickle(std::string_view start,
                                                                           std::string_view bytes)
    {
        TestConnection connection(port, 5s);
        const auto began = std::chrono::steady_clock::now();
        connection.send(start);
        std::string received;
        for (const char byte : bytes) {
            if (!connection.send(std::string_view(&byte, 1)) || connection.readUntil("\r\n\r\n", received)) {
                break;
            }
        }
        connection.readUntil("\r\n\r\n", received);
        return {parseReply(received),
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began)};
    }
};

TEST_F(SlowClients, AHeadThatNeverEndsIsRefusedAtItsDeadline)
{
    // readUntil() waits the test client's own timeout between bytes: 10 s would pass before the
    // server's idle limit; the head's deadline ends it first.
    const auto [reply, took] = trickle("GET /v1/info HTTP/1.1\r\nX-Slow: ", std::string(50, 'a'));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 400);
    EXPECT_LT(took, 3s);
}

TEST_F(SlowClients, ABodyBelowTheMinimumRateEndsTheUpload)
{
    const auto [reply, took] =
        trickle("POST /v1/upload?filename=slow.bin&device=Phone HTTP/1.1\r\nContent-Length: 100000\r\n\r\n",
                std::string(100000, 'b'));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 500);
    EXPECT_EQ(reply->body, "Upload failed: 上传中断，文件不完整");
    EXPECT_LT(took, 3s);
    EXPECT_TRUE(eventually([&] { return !std::filesystem::exists(saveFolder.path() / "Phone" / "slow.bin"); }));
}

TEST_F(ServerTest, AConnectionOpenedBeforeReceivingWasSwitchedOffIsRefusedAndWritesNothing)
{
    startServer();
    TestConnection early(port);
    ASSERT_TRUE(early.isConnected());
    ASSERT_TRUE(eventually([&] { return server->activeConnectionCount() == 1; }));
    server->stop();
    early.send(buildRequest("POST", "/v1/upload?filename=late.txt&device=Phone", "", "late"));
    const auto reply = parseReply(early.readAll());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 503);
    EXPECT_EQ(reply->body, "接收已关闭");
    EXPECT_FALSE(std::filesystem::exists(saveFolder.path() / "Phone"));
}

} // namespace
} // namespace ferrylantern::test
