// The small stateful pieces of an upload: replies, the progress throttle, tickets and the registry of
// cancellable connections.
#include "server/OneShotReply.h"
#include "server/UploadProgressEmitter.h"
#include "server/UploadSessionRegistry.h"
#include "server/UploadTicketStore.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace ferrylantern {
namespace {

using namespace std::chrono_literals;

TEST(OneShotReply, WakesTheWaiterWithTheAnswerFromAnotherThread)
{
    // The answer comes before the wait in some rounds and during it in others; both must deliver it.
    for (int round = 0; round < 200; ++round) {
        auto [reply, waiter] = makeOneShotReply<int>(-1);
        std::thread owner([reply = reply, round] { reply.resume(round); });
        EXPECT_EQ(waiter.wait(), round);
        owner.join();
        EXPECT_TRUE(reply.isResumed());
    }
}

TEST(OneShotReply, AnAnswerGivenBeforeTheWaitIsKept)
{
    auto [reply, waiter] = makeOneShotReply<bool>(false);
    reply.resume(true);
    EXPECT_TRUE(waiter.wait());
}

TEST(OneShotReply, ADroppedReplyAnswersWithTheFallback)
{
    auto [reply, waiter] = makeOneShotReply<int>(7);
    {
        auto copy = reply;
        reply = makeOneShotReply<int>(0).first;
    }
    EXPECT_EQ(waiter.wait(), 7);
}

struct ManualUptime
{
    std::uint64_t now = 0;
    MonotonicClock clock()
    {
        return [this] { return now; };
    }
};

std::vector<std::int64_t> updatesIn(const std::vector<TransferUploadProgressEvent>& events)
{
    std::vector<std::int64_t> updates;
    for (const auto& event : events) {
        if (const auto* updated = std::get_if<UploadUpdated>(&event)) {
            updates.push_back(updated->bytesReceived);
        }
    }
    return updates;
}

TEST(UploadProgressEmitter, SendsAtMostOneUpdatePerHundredMilliseconds)
{
    ManualUptime uptime;
    std::vector<TransferUploadProgressEvent> events;
    UploadProgressEmitter emitter(
        Uuid::random(), [&](const auto& event) { events.push_back(event); }, uptime.clock());
    emitter.update(1, false); // the first one always goes out
    uptime.now += 50000000;
    emitter.update(2, false); // 50 ms later: held back
    uptime.now += 50000000;
    emitter.update(3, false); // 100 ms after the first
    uptime.now += 1;
    emitter.update(4, true); // forced
    EXPECT_EQ(updatesIn(events), (std::vector<std::int64_t>{1, 3, 4}));
}

TEST(UploadProgressEmitter, ThrottlesManySmallChunksToTenPerSecond)
{
    ManualUptime uptime;
    std::vector<TransferUploadProgressEvent> events;
    UploadProgressEmitter emitter(
        Uuid::random(), [&](const auto& event) { events.push_back(event); }, uptime.clock());
    for (int chunk = 1; chunk <= 10000; ++chunk) { // one chunk every 100 µs for a second
        uptime.now += 100000;
        emitter.update(chunk, false);
    }
    EXPECT_LE(updatesIn(events).size(), 11U);
}

TEST(UploadProgressEmitter, WithoutHandlerDoesNothing)
{
    UploadProgressEmitter emitter(Uuid::random(), nullptr);
    emitter.update(1, true);
    emitter.started("a", "b", 1);
    emitter.finished();
    emitter.failed();
}

TEST(UploadTicketStore, TicketsAreSingleUseAndExpireAfterFifteenMinutes)
{
    test::ManualClock clock;
    UploadTicketStore store(clock.function());
    const auto first = Uuid::random();
    const auto second = Uuid::random();
    ASSERT_TRUE(store.issue({{first, "a.txt", "Phone", 10, ""}, {second, "b.txt", "Phone", 20, ""}},
                            store.approvalRound(), "address 127.0.0.1"));
    const auto taken = store.takeTicket(first);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->safeName, "a.txt");
    EXPECT_EQ(taken->byteCount, 10);
    EXPECT_FALSE(taken->isRevoked);
    EXPECT_FALSE(store.takeTicket(first));
    clock.advance(900s);
    EXPECT_FALSE(store.takeTicket(second));
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

TEST(UploadSessionRegistry, CancellingShutsTheSocketDownAndKeepsTheEntry)
{
    int sockets[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);
    UploadSessionRegistry registry;
    const auto id = Uuid::random();
    {
        const UploadSessionRegistration registration(registry, id, sockets[0]);
        EXPECT_FALSE(registration.isCancelled());
        registry.cancelUpload(id);
        registry.cancelUpload(id); // twice: no other effect
        EXPECT_TRUE(registration.isCancelled());
        char byte = 0;
        EXPECT_EQ(read(sockets[0], &byte, 1), 0); // end of stream at once
        registry.cancelUpload(Uuid::random());    // unknown: nothing
    }
    EXPECT_FALSE(registry.isCancelled(id));
    EXPECT_TRUE(registry.registeredIDs().empty());
    close(sockets[0]);
    close(sockets[1]);
}

TEST(UploadSessionRegistry, CancelAllReachesEveryEntry)
{
    int first[2];
    int second[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, first), 0);
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, second), 0);
    UploadSessionRegistry registry;
    const auto a = Uuid::random();
    const auto b = Uuid::random();
    registry.registerSession(a, first[0]);
    registry.registerSession(b, second[0]);
    registry.cancelAllUploads();
    EXPECT_TRUE(registry.isCancelled(a));
    EXPECT_TRUE(registry.isCancelled(b));
    for (const int fd : {first[0], first[1], second[0], second[1]}) {
        close(fd);
    }
}

} // namespace
} // namespace ferrylantern
