#include "tests/server/ServerFixture.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

namespace ferrylantern::test {

ServerTest::~ServerTest()
{
    owner.refusePendingQuestions();
    if (server) {
        server->stop();
        // Handlers hold the fixture's stores; let them end before the fixture goes.
        server->waitForConnectionsToFinish(std::chrono::seconds(10));
    }
}

void ServerTest::setPIN(bool enabled, std::string code)
{
    const std::lock_guard guard(pinLock_);
    pin_ = PINSettings{.enabled = enabled, .code = std::move(code)};
}

void ServerTest::startServer(ServerOptions options)
{
    options.preferredPort = 0;
    options.pinSettings = [this] {
        const std::lock_guard guard(pinLock_);
        return pin_;
    };
    options.sessionStore = &sessions;
    options.pinAttemptLimiter = pinAttempts;
    options.sharedItems = shares;
    options.clock = clock.function();
    server = std::make_unique<SimpleSocketHTTPServer>(saveFolder.path(), "Test Mac", owner.callbacks(), options);
    const auto started = server->start();
    ASSERT_TRUE(started.hasValue());
    port = *started;
}

HttpReply ServerTest::get(std::string_view target, std::string_view headerLines)
{
    return sendRequest(port, buildRequest("GET", target, headerLines));
}

HttpReply ServerTest::post(std::string_view target, std::string_view body, std::string_view headerLines,
                           const char* sourceAddress)
{
    return sendRequest(port, buildRequest("POST", target, headerLines, body), sourceAddress);
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
