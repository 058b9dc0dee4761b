// The connection server over real sockets: exact bytes of the fixed answers, routing, interim answers,
// clients that go away, idle and slow clients, and the listening socket's lifecycle.
#include "server/Endpoints.h"
#include "tests/server/ServerFixture.h"

#include <cstring>
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

using HttpServer = RunningServer;

TEST_F(HttpServer, AnswersByteForByteAsClientsExpect)
{
    const std::string badRequest = plainTextAnswer("HTTP/1.1 400 Bad Request", "Bad Request");
    const std::string notFound = plainTextAnswer("HTTP/1.1 404 Not Found", "Not Found");
    const auto badLength = [](std::string_view length) {
        return "POST /v1/info HTTP/1.1\r\nContent-Length: " + std::string(length) + "\r\n\r\n";
    };
    const struct
    {
        const char* what;
        std::string request;
        std::string answer;
    } rows[] = {
        {"OPTIONS on any path, its body drained", buildRequest("OPTIONS", "/anything/at/all", "", "body to drain"),
         "HTTP/1.1 204 No Content\r\n"
         "Connection: close\r\n"
         "Access-Control-Allow-Origin: *\r\n"
         "Access-Control-Allow-Methods: GET, POST, HEAD, OPTIONS\r\n"
         "Access-Control-Allow-Headers: Content-Type, X-FerryLantern-Session\r\n"
         "\r\n"},
        {"favicon", buildRequest("GET", "/favicon.ico"),
         "HTTP/1.1 204 No Content\r\n" + std::string(fixedFields) + "\r\n"},
        {"HEAD of the page", buildRequest("HEAD", "/"),
         "HTTP/1.1 200 OK\r\n" + std::string(fixedFields) +
             "Content-Type: text/html; charset=utf-8\r\nContent-Length: 0\r\n\r\n"},
        {"paths are case-sensitive", buildRequest("GET", "/UPLOAD"), notFound},
        {"a POST nowhere", buildRequest("POST", "/nowhere", "", "some body"), notFound},
        {"DELETE", buildRequest("DELETE", "/"), notFound},
        {"PUT on a known path", buildRequest("PUT", "/v1/info"), notFound},
        {"letters for a length", badLength("abc"), badRequest},
        {"a negative length", badLength("-1"), badRequest},
        {"a length over 100 GiB", badLength("107374182401"), badRequest},
        {"a fractional length", badLength("1.5"), badRequest},
        {"a length too large for 64 bits", badLength("99999999999999999999"), badRequest},
        {"a length with an inner space", badLength("1 2"), badRequest},
        {"a hexadecimal length", badLength("0x10"), badRequest},
        {"a sign for a length", badLength("+"), badRequest},
        {"a blank request line", "   \r\n\r\n", badRequest},
        {"no target", "GET\r\n\r\n", badRequest},
        {"a target that is not UTF-8", "GET /\xfe HTTP/1.1\r\n\r\n", badRequest},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(sendRequest(port, row.request).raw, row.answer) << row.what;
    }
    EXPECT_EQ(sendRequest(port, buildRequest("get", "/v1/info")).status, 200) << "a lower-case method";
}

TEST_F(HttpServer, ServesThePageOnBothRoutesWhateverTheQuery)
{
    for (const auto* target : {"/", "/upload", "/upload?from=qr", "http://192.168.1.20:53317/upload/"}) {
        const auto reply = get(target);
        EXPECT_EQ(reply.status, 200) << target;
        EXPECT_EQ(reply.header("content-type"), "text/html; charset=utf-8");
        EXPECT_NE(reply.body.find("传到 Test Mac"), std::string::npos);
        EXPECT_EQ(reply.header("content-length"), std::to_string(reply.body.size()));
    }
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

TEST_F(HttpServer, AnswersExpectContinueBeforeReadingABodyAndOnlyThen)
{
    for (const auto& [target, body] : {std::pair{"/v1/pin/verify", R"({"pin":"12"})"},
                                       std::pair{"/v1/upload?filename=c.txt&device=Phone", "hello"}}) {
        TestConnection connection(port);
        connection.send("POST " + std::string(target) + " HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: " +
                        std::to_string(std::strlen(body)) + "\r\n\r\n");
        std::string received;
        ASSERT_TRUE(connection.readUntil("\r\n\r\n", received));
        EXPECT_EQ(received, "HTTP/1.1 100 Continue\r\n\r\n");
        connection.send(body);
        const auto reply = parseReply(received + connection.readAll());
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 200) << target;
    }
    EXPECT_TRUE(std::filesystem::exists(saveFolder.path() / "Phone" / "c.txt"));
    // A route that never reads a body answers at once, without the interim answer.
    TestConnection connection(port);
    connection.send("GET /v1/info HTTP/1.1\r\nExpect: 100-continue\r\n\r\n");
    const auto raw = connection.readAll();
    EXPECT_TRUE(raw.starts_with("HTTP/1.1 200 OK\r\n")) << raw;
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

// Refused before the body is read and before any interim answer, so a client waiting for "100 Continue"
// hears the refusal.
TEST_F(HttpServer, ABodyOverItsRoutesLimitIsRefusedFromTheHead)
{
    const struct
    {
        std::string head;
        std::string answer;
    } rows[] = {
        {"POST /v1/text HTTP/1.1\r\nContent-Length: " + std::to_string(maxTextRequestBytes + 1) + "\r\n\r\n{\"text",
         "文字过长，最多 64 KiB"},
        {"POST /v1/upload/preflight/batch HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 262145\r\n\r\n",
         "请求体过大"},
        {"POST /v1/upload?device=Phone HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=XB\r\n"
         "Content-Length: 67108865\r\n\r\n",
         "Upload failed: 文件过大，请通过 FerryLantern 网页上传（不要用第三方 multipart 工具传超大文件）"},
    };
    for (const auto& row : rows) {
        TestConnection connection(port);
        connection.send(row.head);
        std::string received;
        ASSERT_TRUE(connection.readUntil(row.answer, received)) << received;
        EXPECT_TRUE(received.starts_with(row.head.starts_with("POST /v1/upload?") ? "HTTP/1.1 500 " : "HTTP/1.1 413 "))
            << received;
    }
    EXPECT_TRUE(entriesUnder(saveFolder.path()).empty());
}

TEST_F(HttpServer, FallsBackToAnEphemeralPortWhenThePreferredOneIsTaken)
{
    ServerOptions options;
    options.preferredPort = port;
    options.sessionStore = &sessions;
    SimpleSocketHTTPServer second(saveFolder.path(), "Second", owner.callbacks(), options);
    const auto secondPort = second.start();
    ASSERT_TRUE(secondPort);
    EXPECT_NE(*secondPort, port);
    EXPECT_EQ(sendRequest(*secondPort, buildRequest("GET", "/v1/info")).status, 200);
}

TEST_F(HttpServer, StoppingClosesTheListeningSocketAndRefusesWhatWasAlreadyOpen)
{
    TestConnection early(port);
    ASSERT_TRUE(early.isConnected());
    ASSERT_TRUE(eventually([&] { return server->activeConnectionCount() == 1; }));
    server->stop();
    EXPECT_FALSE(TestConnection(port).isConnected());
    early.send(buildRequest("POST", "/v1/upload?filename=late.txt&device=Phone", "", "late"));
    const auto reply = parseReply(early.readAll());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 503);
    EXPECT_EQ(reply->body, "接收已关闭");
    EXPECT_FALSE(std::filesystem::exists(saveFolder.path() / "Phone"));
}

TEST_F(ServerTest, ASilentClientOrAStalledBodyIsEndedAfterTheIdleLimit)
{
    ServerOptions options;
    options.idleTimeout = 300ms;
    startServer(options);
    TestConnection silent(port);
    const auto started = std::chrono::steady_clock::now();
    const auto reply = parseReply(silent.readAll());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 400);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 250ms);
    EXPECT_TRUE(eventually([&] { return server->activeConnectionCount() == 0; }));

    TestConnection stalling(port);
    stalling.send("POST /v1/pin/verify HTTP/1.1\r\nContent-Length: 20\r\n\r\n{\"pin\":");
    const auto incomplete = parseReply(stalling.readAll());
    ASSERT_TRUE(incomplete);
    EXPECT_EQ(incomplete->status, 400);
    EXPECT_EQ(incomplete->body, "无效的 PIN 请求");
}

// A client that sends a byte now and then, well within the idle limit, still cannot hold a connection:
// the head has a deadline and a body a minimum rate.
TEST_F(ServerTest, ATrickleCannotHoldAConnection)
{
    ServerOptions options;
    options.headTimeout = 400ms;
    options.minimumBodyRate = {.bytes = 1000, .per = 400ms};
    startServer(options);
    // Sends `bytes` one at a time until the server answers; readUntil() waits the test client's own
    // timeout between bytes, so without the server's limits this would take far longer than 3 s.
    const auto trickle = [this](std::string_view start, std::string_view bytes) {
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
        EXPECT_LT(std::chrono::steady_clock::now() - began, 3s);
        return parseReply(received).value_or(HttpReply{});
    };
    EXPECT_EQ(trickle("GET /v1/info HTTP/1.1\r\nX-Slow: ", std::string(50, 'a')).status, 400);
    const auto upload =
        trickle("POST /v1/upload?filename=slow.bin&device=Phone HTTP/1.1\r\nContent-Length: 100000\r\n\r\n",
                std::string(100000, 'b'));
    EXPECT_EQ(upload.status, 500);
    EXPECT_EQ(upload.body, "Upload failed: 上传中断，文件不完整");
    EXPECT_TRUE(eventually([&] { return !std::filesystem::exists(saveFolder.path() / "Phone" / "slow.bin"); }));
}

} // namespace
} // namespace ferrylantern::test
