// The small stateful pieces of an upload: the reply to a question, the progress throttle and tickets.
#include "server/OneShotReply.h"
#include "server/UploadProgressEmitter.h"
#include "server/UploadTicketStore.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace ferrylantern {
namespace {

using namespace std::chrono_literals;

TEST(OneShotReply, WakesTheWaiterWithTheAnswerFromAnotherThreadOrTheFallbackWhenDropped)
{
    // The answer comes before the wait in some rounds and during it in others; both must deliver it.
    for (int round = 0; round < 200; ++round) {
        auto [reply, waiter] = makeOneShotReply<int>(-1);
        std::thread owner([reply = reply, round] { reply.resume(round); });
        EXPECT_EQ(waiter.wait(), round);
        owner.join();
        EXPECT_TRUE(reply.isResumed());
    }
    auto [reply, waiter] = makeOneShotReply<int>(7);
    reply = makeOneShotReply<int>(0).first;
    EXPECT_EQ(waiter.wait(), 7);
}

TEST(UploadProgressEmitter, SendsAtMostOneUpdatePerHundredMillisecondsUnlessForced)
{
    std::uint64_t now = 0;
    std::vector<std::int64_t> updates;
    UploadProgressEmitter emitter(
        Uuid::random(),
        [&](const auto& event) {
            if (const auto* updated = std::get_if<UploadUpdated>(&event)) {
                updates.push_back(updated->bytesReceived);
            }
        },
        [&now] { return now; });
    emitter.update(1, false); // the first one always goes out
    now += 50000000;
    emitter.update(2, false); // 50 ms later: held back
    now += 50000000;
    emitter.update(3, false); // 100 ms after the first
    now += 1;
    emitter.update(4, true);
    EXPECT_EQ(updates, (std::vector<std::int64_t>{1, 3, 4}));
    for (int chunk = 5; chunk <= 10000; ++chunk) { // one chunk every 100 µs for a second
        now += 100000;
        emitter.update(chunk, false);
    }
    EXPECT_LE(updates.size(), 3U + 10U);
}

TEST(UploadTicketStore, RejectingEverythingRevokesWhatWasApprovedBefore)
{
    test::ManualClock clock;
    UploadTicketStore store(clock.function());
    const auto before = Uuid::random();
    const auto askedBefore = Uuid::random();
    const auto after = Uuid::random();
    const auto roundOfTheQuestion = store.approvalRound();
    ASSERT_TRUE(store.issue({{before, "a.txt", "Phone", 1, ""}}, roundOfTheQuestion, "owner"));
    store.revokeApprovals();
    // Approved in the old round, stored only after the rejection: revoked all the same.
    ASSERT_TRUE(store.issue({{askedBefore, "b.txt", "Phone", 1, ""}}, roundOfTheQuestion, "owner"));
    ASSERT_TRUE(store.issue({{after, "c.txt", "Phone", 1, ""}}, store.approvalRound(), "owner"));
    EXPECT_TRUE(store.takeTicket(before)->isRevoked);
    EXPECT_TRUE(store.takeTicket(askedBefore)->isRevoked);
    EXPECT_FALSE(store.takeTicket(after)->isRevoked);
}

TEST(UploadTicketStore, EachOwnerAndAllTogetherHoldOnlySoManyTicketsUntilTheyExpireOrAreUsed)
{
    test::ManualClock clock;
    UploadTicketStore store(clock.function(), 3, 5);
    const auto approvals = [](int count) {
        std::vector<UploadTicketStore::Approval> list;
        for (int i = 0; i < count; ++i) {
            list.push_back({Uuid::random(), "f.txt", "Phone", 1, ""});
        }
        return list;
    };
    const auto mine = approvals(3);
    ASSERT_TRUE(store.issue(mine, 0, "a"));
    EXPECT_FALSE(store.hasRoomFor("a", 1));
    EXPECT_FALSE(store.issue(approvals(1), 0, "a")) << "beyond the owner's share";
    ASSERT_TRUE(store.issue(approvals(2), 0, "b"));
    EXPECT_FALSE(store.issue(approvals(1), 0, "c")) << "beyond what all owners may hold";
    EXPECT_EQ(store.ticketCount(), 5U);
    // A used ticket frees its place at once, expired ones at the next look.
    ASSERT_TRUE(store.takeTicket(mine[0].id));
    EXPECT_TRUE(store.issue(approvals(1), 0, "a"));
    clock.advance(900s);
    EXPECT_TRUE(store.hasRoomFor("c", 3));
    EXPECT_EQ(store.ticketCount(), 0U);
}

} // namespace
} // namespace ferrylantern
