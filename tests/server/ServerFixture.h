// A real SimpleSocketHTTPServer on an ephemeral port of 127.0.0.1, with a fresh save folder, a clock
// the test moves, its own PIN session store and PIN settings the test changes at will.
#pragma once

#include "server/PINAttemptLimiter.h"
#include "server/SimpleSocketHTTPServer.h"
#include "server/TransferPINSessionStore.h"
#include "tests/server/OwnerStandIn.h"
#include "tests/support/HttpTestClient.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>

namespace ferrylantern::test {

class ServerTest : public ::testing::Test
{
protected:
    ~ServerTest() override;

    // Starts the server with `owner` answering (unless other callbacks are given); the options' clock,
    // stores and PIN provider are filled in by the fixture unless the test set them.
    void startServer(std::optional<TransferServerCallbacks> callbacks = std::nullopt, ServerOptions options = {});
    void setPIN(bool enabled, std::string code);

    HttpReply get(std::string_view target, std::string_view headerLines = "");
    HttpReply post(std::string_view target, std::string_view body, std::string_view headerLines = "");
    // Verifies `pin` and returns the session token, or an empty text.
    std::string verifyPIN(std::string_view pin);

    OwnerStandIn owner;
    TemporaryFolder saveFolder;
    ManualClock clock;
    TransferPINSessionStore sessions{clock.function()};
    std::shared_ptr<PINAttemptLimiter> pinAttempts = std::make_shared<PINAttemptLimiter>(clock.function());
    std::unique_ptr<SimpleSocketHTTPServer> server;
    std::uint16_t port = 0;

private:
    std::mutex pinLock_;
    PINSettings pin_;
};

} // namespace ferrylantern::test
