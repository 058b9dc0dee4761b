// Fresh state for each server test: a save folder, a clock the test moves, its own PIN session store
// and attempt limiter, PIN settings the test changes at will and the owner stand-in, for a real
// SimpleSocketHTTPServer on an ephemeral port of 127.0.0.1.
#pragma once

#include "server/PINAttemptLimiter.h"
#include "server/SharedItems.h"
#include "server/SimpleSocketHTTPServer.h"
#include "server/TransferPINSessionStore.h"
#include "tests/server/OwnerStandIn.h"
#include "tests/support/HttpTestClient.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <variant>

namespace ferrylantern::test {

class ServerTest : public ::testing::Test
{
protected:
    ~ServerTest() override;

    void setPIN(bool enabled, std::string code);
    // Starts the server with `owner` answering, on an ephemeral port, with the fixture's state.
    void startServer(ServerOptions options = {});

    HttpReply get(std::string_view target, std::string_view headerLines = "");
    HttpReply post(std::string_view target, std::string_view body, std::string_view headerLines = "",
                   const char* sourceAddress = nullptr);
    // Verifies `pin` and returns the session token, or an empty text.
    std::string verifyPIN(std::string_view pin);

    OwnerStandIn owner;
    TemporaryFolder saveFolder;
    ManualClock clock;
    TransferPINSessionStore sessions{clock.function()};
    std::shared_ptr<PINAttemptLimiter> pinAttempts = std::make_shared<PINAttemptLimiter>(clock.function());
    // What the server shares, as the desktop's registry would hold it.
    std::shared_ptr<SharedItems> shares = std::make_shared<SharedItems>();
    std::unique_ptr<SimpleSocketHTTPServer> server;
    std::uint16_t port = 0;

private:
    std::mutex pinLock_;
    PINSettings pin_;
};

class RunningServer : public ServerTest
{
protected:
    void SetUp() override { startServer(); }
};

// Bytes that no pattern makes special, the same for the same seed.
std::string randomBytes(std::size_t size, unsigned seed = 1);
// Writes `content` to `path`, creating its folders.
std::filesystem::path writeFile(const std::filesystem::path& path, std::string_view content);
// Every file under `folder`, hidden partial files included, as sorted paths relative to it.
std::vector<std::string> entriesUnder(const std::filesystem::path& folder);

// The events of one kind among what the owner was told, in order.
template <typename Event, typename AnyEvent>
std::vector<Event> eventsOf(const std::vector<AnyEvent>& events)
{
    std::vector<Event> found;
    for (const auto& event : events) {
        if (const auto* match = std::get_if<Event>(&event)) {
            found.push_back(*match);
        }
    }
    return found;
}

} // namespace ferrylantern::test
