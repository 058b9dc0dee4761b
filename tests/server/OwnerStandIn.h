// Plays the server's owner in tests: records every event, record and question, and answers the
// questions either at once (when an automatic answer is set) or later from the test thread.
// Thread-safe: the server's threads report while the test thread reads and answers.
#pragma once

#include "server/ServerCallbacks.h"
#include "tests/support/TestSupport.h"

#include <functional>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace ferrylantern::test {

class OwnerStandIn
{
public:
    TransferServerCallbacks callbacks();

    // Automatic answers; unset means the question waits until the test answers it.
    std::optional<bool> autoConfirm;
    std::optional<DuplicateFileResolution> autoDuplicate;

    // Each waits until at least `count` questions of the kind arrived, or an event matches.
    bool waitForConfirmations(std::size_t count)
    {
        return eventually([&] { return confirmations().size() >= count; });
    }
    bool waitForBatches(std::size_t count)
    {
        return eventually([&] { return batches().size() >= count; });
    }

    void answerConfirmation(std::size_t index, bool answer) { answerQuestion(confirmations_, index, answer); }
    void answerBatch(std::size_t index, bool answer) { answerQuestion(batches_, index, answer); }
    // Refuses every question still waiting, so that no server thread stays blocked.
    void refusePendingQuestions();

    std::vector<ReceiveConfirmationRequest> confirmations() const { return copyOf(confirmations_.asked); }
    std::vector<std::vector<ReceiveConfirmationRequest>> batches() const { return copyOf(batches_.asked); }
    std::vector<DuplicateFileRequest> duplicates() const { return copyOf(duplicates_.asked); }
    std::vector<TransferUploadProgressEvent> events() const { return copyOf(events_); }
    std::vector<ReceivedFileRecord> records() const { return copyOf(records_); }
    std::vector<ReceivedTextRecord> texts() const { return copyOf(texts_); }
    std::vector<TransferDownloadProgressEvent> downloadEvents() const { return copyOf(downloadEvents_); }
    // What the server said of shared files, in order: (share id, missing).
    std::vector<std::pair<Uuid, bool>> missingChanges() const { return copyOf(missingChanges_); }

private:
    // One kind of question: what was asked, and the replies the test has not given yet.
    template <typename Request, typename Answer>
    struct Questions
    {
        std::vector<Request> asked;
        std::vector<std::optional<OneShotReply<Answer>>> replies;
    };

    template <typename Request, typename Answer>
    void ask(Questions<Request, Answer>& questions, const std::optional<Answer>& automatic, const Request& request,
             OneShotReply<Answer> reply)
    {
        const std::lock_guard guard(lock_);
        questions.asked.push_back(request);
        if (automatic) {
            reply.resume(*automatic);
            questions.replies.emplace_back();
        } else {
            questions.replies.emplace_back(std::move(reply));
        }
    }

    template <typename Request, typename Answer>
    void answerQuestion(Questions<Request, Answer>& questions, std::size_t index, Answer answer)
    {
        const std::lock_guard guard(lock_);
        answerLocked(questions, index, answer);
    }

    template <typename Request, typename Answer>
    static void answerLocked(Questions<Request, Answer>& questions, std::size_t index, Answer answer)
    {
        if (auto reply = std::exchange(questions.replies.at(index), std::nullopt)) {
            reply->resume(answer);
        }
    }

    template <typename Request, typename Answer>
    static void refuseAll(Questions<Request, Answer>& questions, Answer answer)
    {
        for (std::size_t i = 0; i < questions.replies.size(); ++i) {
            answerLocked(questions, i, answer);
        }
    }

    template <typename Record>
    std::vector<Record> copyOf(const std::vector<Record>& records) const
    {
        const std::lock_guard guard(lock_);
        return records;
    }

    mutable std::mutex lock_;
    Questions<ReceiveConfirmationRequest, bool> confirmations_;
    Questions<std::vector<ReceiveConfirmationRequest>, bool> batches_;
    Questions<DuplicateFileRequest, DuplicateFileResolution> duplicates_;
    std::vector<TransferUploadProgressEvent> events_;
    std::vector<ReceivedFileRecord> records_;
    std::vector<ReceivedTextRecord> texts_;
    std::vector<TransferDownloadProgressEvent> downloadEvents_;
    std::vector<std::pair<Uuid, bool>> missingChanges_;
};

} // namespace ferrylantern::test
