#include "server/PINAttemptLimiter.h"
#include "server/TransferPINSessionStore.h"
#include "server/Uuid.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace ferrylantern {
namespace {

using namespace std::chrono_literals;
using test::ManualClock;

TEST(PINSessionStore, IssuesUpperCaseUUIDTokens)
{
    ManualClock clock;
    TransferPINSessionStore store(clock.function());
    const auto token = store.issue();
    ASSERT_EQ(token.size(), 36U);
    EXPECT_TRUE(Uuid::parse(token));
    EXPECT_EQ(token, Uuid::parse(token)->text());
    EXPECT_TRUE(store.isValid(token));
    EXPECT_FALSE(store.isValid(""));
    EXPECT_FALSE(store.isValid(Uuid::random().text()));
}

TEST(PINSessionStore, TokenExpiresTwelveHoursAfterIssue)
{
    ManualClock clock;
    TransferPINSessionStore store(clock.function());
    const auto token = store.issue();
    clock.advance(43199s);
    EXPECT_TRUE(store.isValid(token));
    clock.advance(1s);
    EXPECT_FALSE(store.isValid(token));
}

TEST(PINSessionStore, RemoveAllInvalidatesEveryToken)
{
    ManualClock clock;
    TransferPINSessionStore store(clock.function());
    const auto first = store.issue();
    const auto second = store.issue();
    store.removeAll();
    EXPECT_FALSE(store.isValid(first));
    EXPECT_FALSE(store.isValid(second));
}

TEST(PINSessionStore, ChangedSettingsRevokeTokens)
{
    ManualClock clock;
    TransferPINSessionStore store(clock.function());
    store.revokeIfSettingsChanged("on:1234");
    const auto token = store.issue();
    store.revokeIfSettingsChanged("on:1234");
    EXPECT_TRUE(store.isValid(token));
    store.revokeIfSettingsChanged("on:5678");
    EXPECT_FALSE(store.isValid(token));
}

class PINAttempts : public ::testing::Test
{
protected:
    ManualClock clock;
    PINAttemptLimiter limiter{clock.function()};

    void fail(int times, const std::string& client = "10.0.0.2")
    {
        for (int i = 0; i < times; ++i) {
            limiter.recordFailure(client);
        }
    }
};

TEST_F(PINAttempts, FiveWrongAttemptsAreFree)
{
    fail(4);
    EXPECT_EQ(limiter.remainingLockout("10.0.0.2"), 0s);
    fail(1);
    EXPECT_EQ(limiter.remainingLockout("10.0.0.2"), 30s);
    EXPECT_EQ(limiter.remainingLockout("10.0.0.3"), 0s);
}

TEST_F(PINAttempts, LockoutDoublesUpToAnHour)
{
    fail(5);
    std::vector<std::chrono::seconds> lockouts;
    for (int i = 0; i < 9; ++i) {
        clock.advance(limiter.remainingLockout("10.0.0.2"));
        fail(1);
        lockouts.push_back(limiter.remainingLockout("10.0.0.2"));
    }
    const std::vector<std::chrono::seconds> expected{60s, 120s, 240s, 480s, 960s, 1920s, 3600s, 3600s, 3600s};
    EXPECT_EQ(lockouts, expected);
}

TEST_F(PINAttempts, TryingAllPINsTakesMonths)
{
    // The attacker tries again the moment each lock-out ends.
    int attempts = 0;
    const auto start = clock.now();
    while (attempts < 10000) {
        clock.advance(limiter.remainingLockout("10.0.0.2"));
        fail(1);
        ++attempts;
    }
    EXPECT_GT(clock.now() - start, std::chrono::hours(24 * 300));
}

TEST_F(PINAttempts, SuccessClearsTheRecord)
{
    fail(4);
    limiter.recordSuccess("10.0.0.2");
    fail(4);
    EXPECT_EQ(limiter.remainingLockout("10.0.0.2"), 0s);
}

TEST_F(PINAttempts, OldFailuresAreForgottenAfterADay)
{
    fail(4);
    clock.advance(24h);
    fail(4);
    EXPECT_EQ(limiter.remainingLockout("10.0.0.2"), 0s);
}

TEST_F(PINAttempts, TracksABoundedNumberOfClients)
{
    PINAttemptLimiter small(clock.function(), {.maxTrackedClients = 8});
    for (int i = 0; i < 5; ++i) {
        small.recordFailure("10.0.0.1");
    }
    for (int i = 0; i < 100; ++i) {
        small.recordFailure("10.0.1." + std::to_string(i));
    }
    // The locked-out client survives the pruning.
    EXPECT_GT(small.remainingLockout("10.0.0.1"), 0s);
}

} // namespace
} // namespace ferrylantern
