#include "tests/server/ServerFixture.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

namespace ferrylantern::test {

namespace {

// A body that has arrived whole.
class ReceivedBody final : public RequestBody
{
public:
    explicit ReceivedBody(std::string_view bytes)
        : bytes_(bytes)
    {}
    Expected<std::string, SocketHTTPError> read() override { return bytes_; }

private:
    std::string bytes_;
};

} // namespace

EndpointTest::~EndpointTest()
{
    owner.refusePendingQuestions();
}

void EndpointTest::setPIN(bool enabled, std::string code)
{
    const std::lock_guard guard(pinLock_);
    pin_ = PINSettings{.enabled = enabled, .code = std::move(code)};
}

ServerOptions EndpointTest::withFixtureState(ServerOptions options)
{
    options.pinSettings = [this] {
        const std::lock_guard guard(pinLock_);
        return pin_;
    };
    options.sessionStore = &sessions;
    options.pinAttemptLimiter = pinAttempts;
    options.sharedItems = shares;
    options.clock = clock.function();
    return options;
}

ServerContext& EndpointTest::context()
{
    if (!context_) {
        context_ =
            std::make_unique<ServerContext>(saveFolder.path(), "Test Mac", owner.callbacks(), withFixtureState({}));
    }
    return *context_;
}

RequestHead EndpointTest::head(std::string_view method, std::string_view target, std::string_view headerLines)
{
    RequestHeadReader reader;
    const auto status = reader.append(std::string(method) + " " + std::string(target) + " HTTP/1.1\r\n" +
                                      std::string(headerLines) + "\r\n");
    EXPECT_EQ(status, RequestHeadReader::Status::complete) << target;
    return status == RequestHeadReader::Status::complete ? reader.takeHead() : RequestHead{};
}

HttpResponse EndpointTest::call(BufferedEndpoint endpoint, std::string_view target, std::string_view body,
                                std::string_view headerLines, std::string_view peer)
{
    const auto requestHead =
        head("POST", target, "Content-Length: " + std::to_string(body.size()) + "\r\n" + std::string(headerLines));
    ReceivedBody received(body);
    return endpoint(context(), {requestHead, received, std::string(peer), -1, {}});
}

ServerTest::~ServerTest()
{
    if (server) {
        owner.refusePendingQuestions();
        server->stop();
        // Handlers hold the fixture's stores; let them end before the fixture goes.
        server->waitForConnectionsToFinish(std::chrono::seconds(10));
    }
}

void ServerTest::startServer(ServerOptions options)
{
    options.preferredPort = 0;
    server = std::make_unique<SimpleSocketHTTPServer>(saveFolder.path(), "Test Mac", owner.callbacks(),
                                                      withFixtureState(std::move(options)));
    const auto started = server->start();
    ASSERT_TRUE(started.hasValue());
    port = *started;
}

HttpReply ServerTest::get(std::string_view target, std::string_view headerLines)
{
    return sendRequest(port, buildRequest("GET", target, headerLines));
}

HttpReply ServerTest::post(std::string_view target, std::string_view body, std::string_view headerLines)
{
    return sendRequest(port, buildRequest("POST", target, headerLines, body));
}

std::string ServerTest::verifyPIN(std::string_view pin)
{
    const auto reply = post("/v1/pin/verify", nlohmann::json{{"pin", pin}}.dump());
    if (reply.status != 200) {
        return {};
    }
    return nlohmann::json::parse(reply.body).value("sessionToken", "");
}

std::string randomBytes(std::size_t size, unsigned seed)
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

std::filesystem::path writeFile(const std::filesystem::path& path, std::string_view content)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

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

} // namespace ferrylantern::test
