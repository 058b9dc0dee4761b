// The PIN gate over real sockets: the info endpoint's report, verification, how a session travels and
// how long it lives, revocation on settings changes and the limit on wrong attempts.
#include "tests/server/ServerFixture.h"

#include <nlohmann/json.hpp>

namespace ferrylantern::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

class PINGate : public RunningServer
{
protected:
    json info(std::string_view headerLines = "")
    {
        const auto reply = get("/v1/info", headerLines);
        EXPECT_EQ(reply.status, 200);
        return json::parse(reply.body);
    }
    HttpReply verify(std::string_view body, const char* sourceAddress = nullptr)
    {
        return post("/v1/pin/verify", body, "", sourceAddress);
    }
    // The session token for `pin`, or an empty text.
    std::string tokenFor(std::string_view pin)
    {
        return json::parse(verify(json{{"pin", pin}}.dump()).body).value("sessionToken", "");
    }
    bool authorized(const std::string& token) { return info(sessionHeader(token))["pinAuthorized"] == true; }

    static std::string sessionHeader(const std::string& token) { return "X-FerryLantern-Session: " + token + "\r\n"; }
};

TEST_F(PINGate, TheSessionTravelsInTheHeaderOrElseTheCookie)
{
    setPIN(true, "1234");
    EXPECT_EQ(info()["pinRequired"], true);
    EXPECT_EQ(info()["pinAuthorized"], false);
    const auto token = tokenFor("1234");
    ASSERT_FALSE(token.empty());
    EXPECT_TRUE(Uuid::parse(token));
    EXPECT_TRUE(authorized(token));
    const auto cookie = "Cookie: a=1; ferrylantern_session=" + token + "\r\n";
    EXPECT_EQ(info(cookie)["pinAuthorized"], true);
    EXPECT_EQ(info("Cookie: ferrylantern_session=\r\n")["pinAuthorized"], false);
    EXPECT_EQ(info(sessionHeader("WRONG") + cookie)["pinAuthorized"], false);
    EXPECT_EQ(info(sessionHeader("  ") + cookie)["pinAuthorized"], true);
}

// With the gate off or fewer than four digits set, anything verifies; of more, the first four count.
TEST_F(PINGate, OnlyTheFirstFourDigitsCountAndFewerLeaveTheGateOpen)
{
    for (const auto& [enabled, code] : {std::pair{false, "1234"}, std::pair{true, "123"}}) {
        setPIN(enabled, code);
        EXPECT_EQ(info()["pinRequired"], false);
        EXPECT_FALSE(info().contains("pinAuthorized"));
        EXPECT_EQ(verify(R"({"pin":"9"})").body, R"({"ok":true})");
    }
    setPIN(true, "12345");
    EXPECT_EQ(info()["pinRequired"], true);
    EXPECT_FALSE(tokenFor("1234").empty());
    EXPECT_FALSE(tokenFor("12a34").empty());
    for (const auto* wrong : {R"({"pin":"4321"})", R"({"pin":"123"})"}) {
        const auto response = verify(wrong);
        EXPECT_EQ(response.status, 403) << wrong;
        EXPECT_EQ(response.body, R"({"ok":false})");
    }
}

TEST_F(PINGate, RefusesOversizedAndUndecodableRequests)
{
    setPIN(true, "1234");
    for (const auto& body : {std::string(4097, ' '), std::string(), std::string("not json"),
                             std::string(R"({"pin":1234})"), std::string(R"(["1234"])"), std::string("{}")}) {
        const auto response = verify(body);
        EXPECT_EQ(response.status, 400) << body;
        EXPECT_EQ(response.body, body.size() > 4096 ? "请求过大" : "无效的 PIN 请求") << body;
    }
}

TEST_F(PINGate, TokensEndAfterTwelveHoursOrWhenTheServerStops)
{
    setPIN(true, "1234");
    const auto token = tokenFor("1234");
    clock.advance(43199s);
    EXPECT_TRUE(authorized(token));
    clock.advance(1s);
    EXPECT_FALSE(authorized(token));

    const auto beforeTheStop = tokenFor("1234");
    EXPECT_TRUE(authorized(beforeTheStop));
    server->stop();
    const auto restarted = server->start();
    ASSERT_TRUE(restarted);
    port = *restarted;
    EXPECT_FALSE(authorized(beforeTheStop));
}

TEST_F(PINGate, ChangingThePINOrTheSwitchInvalidatesTokens)
{
    setPIN(true, "1234");
    const auto first = tokenFor("1234");
    setPIN(true, "1234");
    EXPECT_TRUE(authorized(first)) << "the same settings again change nothing";
    setPIN(true, "5678");
    EXPECT_FALSE(authorized(first));

    const auto second = tokenFor("5678");
    setPIN(false, "5678");
    EXPECT_EQ(info(sessionHeader(second))["pinRequired"], false);
    setPIN(true, "5678");
    EXPECT_FALSE(authorized(second));
}

TEST_F(PINGate, AHundredWrongAttemptsTakeDaysWhileAnotherAddressVerifiesAtOnce)
{
    // A guesser that waits out every lock-out: five free tries, then waits of 30 s doubling up to an
    // hour, so 100 checked guesses take 30 + 60 + … + 1920 s and then 88 hours.
    setPIN(true, "1234");
    auto expectedWait = 30s;
    std::chrono::seconds waited{0};
    int checked = 0;
    while (checked < 100) {
        const auto response = verify(R"({"pin":"0000"})");
        if (response.status == 403) {
            ++checked;
            continue;
        }
        ASSERT_EQ(response.status, 429) << "after " << checked << " wrong attempts";
        EXPECT_EQ(verify(R"({"pin":"1234"})").status, 429) << "the right PIN is not checked while locked out";
        const std::chrono::seconds wait{std::stoll(response.header("retry-after").value_or("0"))};
        ASSERT_EQ(wait, expectedWait) << "after " << checked << " wrong attempts";
        // Another address is not slowed by this one's failures.
        ASSERT_EQ(verify(R"({"pin":"1234"})", "127.0.0.2").status, 200);
        clock.advance(wait);
        waited += wait;
        expectedWait = std::min(expectedWait * 2, std::chrono::seconds(3600));
    }
    EXPECT_EQ(waited, 3810s + 88 * 3600s); // about 3.7 days
}

TEST_F(PINGate, FailuresAreForgottenAfterARightPINOrADay)
{
    setPIN(true, "1234");
    const auto fail = [this](int times) {
        for (int i = 0; i < times; ++i) {
            EXPECT_EQ(verify(R"({"pin":"1111"})").status, 403);
        }
    };
    fail(4);
    EXPECT_FALSE(tokenFor("1234").empty());
    fail(4);
    clock.advance(24h);
    fail(4);
    EXPECT_FALSE(tokenFor("1234").empty());
}

TEST(PINAttemptLimiter, KeepsALockedOutClientWhenItPrunesTheOthers)
{
    ManualClock clock;
    PINAttemptLimiter limiter(clock.function(), {.maxTrackedClients = 8});
    for (int i = 0; i < 5; ++i) {
        limiter.recordFailure("10.0.0.1");
    }
    for (int i = 0; i < 100; ++i) {
        limiter.recordFailure("10.0.1." + std::to_string(i));
    }
    EXPECT_GT(limiter.remainingLockout("10.0.0.1"), 0s);
}

} // namespace
} // namespace ferrylantern::test
