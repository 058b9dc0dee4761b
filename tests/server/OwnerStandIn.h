// Plays the server's owner in tests: records every event, record and question, and answers the
// questions either at once (when an automatic answer is set) or later from the test thread.
// Thread-safe: the server's threads report while the test thread reads and answers.
#pragma once

#include "server/ServerCallbacks.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
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
    bool waitForConfirmations(std::size_t count) { return waitForCount(confirmations_.asked, count); }
    bool waitForBatches(std::size_t count) { return waitForCount(batches_.asked, count); }
    bool waitForEvent(const std::function<bool(const TransferUploadProgressEvent&)>& predicate)
    {
        return waitFor([&] { return std::any_of(events_.begin(), events_.end(), predicate); });
    }
    bool waitForDownloadEvent(const std::function<bool(const TransferDownloadProgressEvent&)>& predicate)
    {
        return waitFor([&] { return std::any_of(downloadEvents_.begin(), downloadEvents_.end(), predicate); });
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
        changed_.notify_all();
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

    template <typename Record>
    std::vector<Record> copyOf(const std::vector<Record>& records) const
    {
        const std::lock_guard guard(lock_);
        return records;
    }

    template <typename Record>
    bool waitForCount(const std::vector<Record>& records, std::size_t count)
    {
        return waitFor([&] { return records.size() >= count; });
    }

    bool waitFor(const std::function<bool()>& condition)
    {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(10), condition);
    }

    mutable std::mutex lock_;
    std::condition_variable changed_;
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
