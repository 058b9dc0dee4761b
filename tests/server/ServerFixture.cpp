#include "tests/server/ServerFixture.h"

#include <nlohmann/json.hpp>

namespace ferrylantern::test {

ServerTest::~ServerTest()
{
    if (server) {
        owner.refusePendingQuestions();
        server->stop();
        // Handlers hold the fixture's stores; let them end before the fixture goes.
        server->waitForConnectionsToFinish(std::chrono::seconds(10));
    }
}

void ServerTest::startServer(std::optional<TransferServerCallbacks> callbacks, ServerOptions options)
{
    if (!callbacks) {
        callbacks = owner.callbacks();
    }
    options.preferredPort = 0;
    if (!options.pinSettings) {
        options.pinSettings = [this] {
            const std::lock_guard guard(pinLock_);
            return pin_;
        };
    }
    if (options.sessionStore == nullptr) {
        options.sessionStore = &sessions;
    }
    if (!options.pinAttemptLimiter) {
        options.pinAttemptLimiter = pinAttempts;
    }
    options.clock = clock.function();
    server = std::make_unique<SimpleSocketHTTPServer>(saveFolder.path(), "Test Mac", std::move(*callbacks), options);
    const auto started = server->start();
    ASSERT_TRUE(started.hasValue());
    port = *started;
}

void ServerTest::setPIN(bool enabled, std::string code)
{
    const std::lock_guard guard(pinLock_);
    pin_ = PINSettings{.enabled = enabled, .code = std::move(code)};
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

} // namespace ferrylantern::test
