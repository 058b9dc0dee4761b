// Guessing the PIN from the network: wrong attempts from one address are slowed down by the lock-out
// (five free tries, then 429 with Retry-After), while another address still verifies at once.
#include "tests/fault/FaultFixture.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace ferrylantern::test {
namespace {

using Clock = std::chrono::steady_clock;

HttpReply verify(std::uint16_t port, std::string_view pin, const char* sourceAddress)
{
    TestConnection connection(port, defaultTestTimeout, sourceAddress);
    connection.send(buildRequest("POST", "/v1/pin/verify", "", nlohmann::json{{"pin", pin}}.dump()));
    return parseReply(connection.readAll()).value_or(HttpReply{});
}

TEST(PINLockout, WrongAttemptsFromOneAddressAreSlowedWhileAnotherVerifies)
{
    TemporaryFolder folder;
    ServerProcess server(folder.path() / "save", folder.path() / "server",
                         {.arguments = {"--pin", "2468"}, .descriptorLimit = std::nullopt});
    ASSERT_NE(server.port(), 0) << server.output();

    constexpr int attempts = 100;
    int refusedAsWrong = 0;
    int lockedOut = 0;
    int longestRetryAfter = 0;
    int shortestRetryAfter = 1 << 30;
    const auto start = Clock::now();
    for (int i = 0; i < attempts; ++i) {
        const auto reply = verify(server.port(), "1357", "127.0.0.1");
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
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(refusedAsWrong, 5);
    EXPECT_EQ(lockedOut, attempts - 5);
    EXPECT_GE(shortestRetryAfter, 1);
    EXPECT_LE(longestRetryAfter, 30);

    // Locked out, the right PIN is refused unchecked from that address ...
    EXPECT_EQ(verify(server.port(), "2468", "127.0.0.1").status, 429);
    // ... while another address verifies at once and may upload.
    const auto other = verify(server.port(), "2468", "127.0.0.2");
    ASSERT_EQ(other.status, 200) << other.body;
    const std::string token = nlohmann::json::parse(other.body)["sessionToken"];
    const auto reply =
        upload(server.port(), {"filename=pin.bin&device=Phone", 3, 4096, "X-FerryLantern-Session: " + token + "\r\n"});
    EXPECT_EQ(reply.status, 200) << reply.body;

    reportFigure("wrong attempts from 127.0.0.1", std::to_string(attempts) + " in " + formatted(seconds, 2) + " s");
    reportFigure("answered 403 (checked) / 429 (locked out)",
                 std::to_string(refusedAsWrong) + " / " + std::to_string(lockedOut));
    reportFigure("Retry-After seen (s)",
                 std::to_string(shortestRetryAfter) + " to " + std::to_string(longestRetryAfter));
    reportFigure("right PIN from 127.0.0.2 meanwhile",
                 std::to_string(other.status) + ", upload " + std::to_string(reply.status));
}

} // namespace
} // namespace ferrylantern::test
