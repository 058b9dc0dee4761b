// The two question queues: every question answers its waiting request exactly once, whichever way
// the user (or a cancellation) answers it.
#include "tests/receiver/ReceiverFixture.h"

#include <QSignalSpy>

#include <future>
#include <nlohmann/json.hpp>
#include <thread>

namespace ferrylantern::test {
namespace {

ReceiveConfirmationRequest question(const std::string& name, const std::string& device = "Phone")
{
    return {Uuid::random(), name, device, 10};
}

struct AskedConfirmation
{
    OneShotReply<bool> reply;
    ReplyWaiter<bool> waiter;

    bool accepted() { return reply.isResumed() && waiter.wait(); }
    bool refused() { return reply.isResumed() && !waiter.wait(); }
};

AskedConfirmation asked()
{
    auto [reply, waiter] = makeOneShotReply<bool>(false);
    return {reply, waiter};
}

// The queues on their own: no model, no server, no event loop.
class ConfirmationQueue : public ::testing::Test
{
protected:
    void ask(const ReceiveConfirmationRequest& request, OneShotReply<bool> reply)
    {
        queue.waitForReceiveConfirmation(request, std::move(reply), queue.confirmationEpoch());
    }
    void askBatch(const std::vector<ReceiveConfirmationRequest>& requests, OneShotReply<bool> reply)
    {
        queue.waitForBatchReceiveConfirmation(requests, std::move(reply), queue.confirmationEpoch());
    }
    std::string current() const
    {
        const auto item = queue.currentReceiveConfirmationItem();
        return item ? QStringLiteral("%1 of %2").arg(item->pending.fileName).arg(item->queueCount).toStdString()
                    : "nothing";
    }

    ReceiveConfirmationQueue queue;
};

TEST_F(ConfirmationQueue, SinglesQueueInArrivalOrderAndComeBackAfterABatchThatPushedThemAside)
{
    auto first = asked();
    auto second = asked();
    auto batch = asked();
    ask(question("a.jpg"), first.reply);
    ask(question("b.jpg"), second.reply);
    EXPECT_EQ(current(), "a.jpg of 2");
    askBatch({question("b1"), question("b2")}, batch.reply);
    EXPECT_EQ(current(), "b1 of 2");
    queue.respondToCurrentConfirmation(true);
    EXPECT_TRUE(batch.accepted());
    EXPECT_FALSE(first.reply.isResumed());
    EXPECT_EQ(current(), "a.jpg of 2");

    queue.respondToCurrentConfirmation(true);
    EXPECT_TRUE(first.accepted());
    EXPECT_EQ(current(), "b.jpg of 1");
    queue.respondToCurrentConfirmation(false);
    EXPECT_TRUE(second.refused());
    EXPECT_EQ(current(), "nothing");
    queue.respondToCurrentConfirmation(true); // nothing left: nothing happens
}

TEST_F(ConfirmationQueue, ABatchIsOneQuestionAndTheNextWaitsUntilItIsAnsweredOrWithdrawn)
{
    auto first = asked();
    auto second = asked();
    askBatch({question("a1"), question("a2"), question("a3")}, first.reply);
    askBatch({question("b1", "Tablet")}, second.reply);
    EXPECT_EQ(current(), "a1 of 3");
    queue.respondToCurrentConfirmation(false);
    EXPECT_TRUE(first.refused());
    EXPECT_FALSE(second.reply.isResumed());
    EXPECT_EQ(current(), "b1 of 1");
    queue.acceptAllConfirmations();
    EXPECT_TRUE(second.accepted());

    // A batch whose phone hung up is withdrawn: the one waiting behind it comes on screen at once.
    auto gone = asked();
    auto next = asked();
    const auto goneFile = question("c1");
    askBatch({goneFile}, gone.reply);
    askBatch({question("d1", "Laptop")}, next.reply);
    EXPECT_TRUE(queue.withdraw(goneFile.uploadID));
    EXPECT_EQ(current(), "d1 of 1");
    queue.acceptAllConfirmations();
    EXPECT_TRUE(next.accepted());

    auto empty = asked();
    askBatch({}, empty.reply);
    EXPECT_TRUE(empty.accepted());
}

TEST_F(ConfirmationQueue, AcceptAllAndRejectAllAnswerEverySingleQuestion)
{
    for (const bool accept : {true, false}) {
        std::vector<AskedConfirmation> questions;
        for (int i = 0; i < 3; ++i) {
            questions.push_back(asked());
            ask(question("f" + std::to_string(i)), questions.back().reply);
        }
        accept ? queue.acceptAllConfirmations() : queue.rejectAllConfirmations();
        for (auto& each : questions) {
            EXPECT_TRUE(accept ? each.accepted() : each.refused());
        }
        EXPECT_TRUE(queue.confirmationQueue().isEmpty());
    }
}

class ModelQuestions : public ReceiverTest
{
protected:
    void SetUp() override
    {
        model = makeModel();
        model->setRequireReceiveConfirmation(true);
    }

    std::future<HttpReply> sendInBackground(const std::string& request)
    {
        return std::async(std::launch::async, [port = *model->port(), request] { return sendRequest(port, request); });
    }

    HttpReply finish(std::future<HttpReply>& reply)
    {
        EXPECT_TRUE(waitFor([&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
        return reply.get();
    }
};

TEST_F(ModelQuestions, AQuestionAskedBeforeARejectAllIsRefusedWhenItArrives)
{
    const auto callbacks = model->serverCallbacks();
    auto pending = asked();
    // The server thread asks; the question is on its way to the model's thread when the user rejects
    // everything.
    std::thread([&] { callbacks.confirmBeforeSave(question("late.txt"), pending.reply); }).join();
    model->rejectAllConfirmations();
    ASSERT_TRUE(waitFor([&] { return pending.reply.isResumed(); }));
    EXPECT_TRUE(pending.refused());
    EXPECT_TRUE(model->confirmations().confirmationQueue().isEmpty());

    // Asked after the reject-all: queued as usual.
    auto later = asked();
    std::thread([&] { callbacks.confirmBeforeSave(question("next.txt"), later.reply); }).join();
    ASSERT_TRUE(waitFor([&] { return model->confirmations().confirmationQueue().size() == 1; }));
    EXPECT_FALSE(later.reply.isResumed());
}

TEST_F(ModelQuestions, CancellingAnUploadAnswersItsQuestions)
{
    const auto callbacks = model->serverCallbacks();
    auto confirmation = asked();
    const auto request = question("c.txt");
    callbacks.confirmBeforeSave(request, confirmation.reply);
    auto [duplicate, duplicateWaiter] = makeOneShotReply<DuplicateFileResolution>(DuplicateFileResolution::keepCopy);
    const DuplicateFileRequest same{Uuid::random(), "d.txt", "Phone", "/x/d.txt"};
    callbacks.resolveDuplicateFile(same, duplicate);
    ASSERT_TRUE(waitFor([&] { return model->duplicates().isWaiting(same.uploadID); }));

    model->cancelReceive(request.uploadID);
    EXPECT_TRUE(confirmation.refused());
    EXPECT_TRUE(model->confirmations().confirmationQueue().isEmpty());
    model->cancelReceive(same.uploadID);
    EXPECT_EQ(duplicateWaiter.wait(), DuplicateFileResolution::cancel);
    EXPECT_TRUE(model->duplicates().duplicateQueue().isEmpty());
}

// End to end: the server's questions reach the queues and the answers reach the uploads.
TEST_F(ModelQuestions, ABatchWaitsForTheUserAndARejectAllCancelsWhatItApprovedBefore)
{
    startAndWait(*model);
    auto reply = sendInBackground(
        buildRequest("POST", "/v1/upload/preflight/batch", "",
                     R"({"device":"Phone","files":[{"filename":"a","byteCount":3},{"filename":"b","byteCount":2}]})"));
    ASSERT_TRUE(waitFor([&] { return model->confirmations().confirmationQueue().size() == 2; }));
    model->confirmations().respondToCurrentConfirmation(true);
    const auto tickets = nlohmann::json::parse(finish(reply).body);
    model->rejectAllConfirmations(); // before the page got to send the file
    const auto upload =
        requestWhileProcessing(*model, buildRequest("POST",
                                                    "/v1/upload?filename=a&device=Phone&uploadId=" +
                                                        tickets["items"][0]["uploadId"].get<std::string>(),
                                                    "", "abc"));
    EXPECT_EQ(upload.body, "传输已取消");
    EXPECT_FALSE(std::filesystem::exists(model->saveDirectory().toStdString() + "/Phone/a"));
}

TEST_F(ModelQuestions, SameNameUploadsAskAndFollowTheAnswer)
{
    model->setRequireReceiveConfirmation(false);
    startAndWait(*model);
    const auto upload = buildRequest("POST", "/v1/upload?filename=dup.txt&device=Phone", "", "one");
    ASSERT_EQ(requestWhileProcessing(*model, upload).status, 200);
    auto second = sendInBackground(upload);
    ASSERT_TRUE(waitFor([&] { return model->duplicates().duplicateQueue().size() == 1; }));
    EXPECT_EQ(model->duplicates().duplicateQueue().first().fileName, "dup.txt");
    model->duplicates().resolveDuplicate(DuplicateFileResolution::keepCopy);
    const auto answer = finish(second);
    EXPECT_EQ(answer.status, 200);
    EXPECT_NE(answer.body.find("dup-1.txt"), std::string::npos);
}

} // namespace
} // namespace ferrylantern::test
