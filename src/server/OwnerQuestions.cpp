#include "server/OwnerQuestions.h"

namespace ferrylantern {

namespace {

// Between two looks at the connection. Short enough that a hung-up client's thread is free within a
// second or two, long enough that hundreds of waiting questions cost nothing.
constexpr std::chrono::milliseconds hangUpCheckInterval{1000};

// Hands the question over with a fresh reply and waits until it is resumed, or until the client has
// gone and the question is withdrawn. A reply the owner drops without answering resumes with
// `fallback`, the answer that refuses.
template <typename Answer, typename Callback, typename Question>
Expected<Answer, SocketHTTPError> askAndWait(const Callback& callback, const Question& question, Answer fallback,
                                             const Asker& asker)
{
    const auto slot = asker.slots.take(asker.peer);
    if (!slot) {
        return Unexpected{SocketHTTPError::tooManyQuestions};
    }
    auto [reply, waiter] = makeOneShotReply<Answer>(fallback);
    callback(question, std::move(reply));
    while (true) {
        if (auto answer = waiter.waitFor(hangUpCheckInterval)) {
            return *answer;
        }
        if (asker.clientHasGone && asker.clientHasGone()) {
            return waiter.withdraw();
        }
    }
}

} // namespace

Expected<bool, SocketHTTPError> askReceiveConfirmation(const TransferServerCallbacks& callbacks,
                                                       const ReceiveConfirmationRequest& request, const Asker& asker)
{
    if (!callbacks.confirmBeforeSave) {
        return true;
    }
    return askAndWait(callbacks.confirmBeforeSave, request, false, asker);
}

Expected<bool, SocketHTTPError> askBatchReceiveConfirmation(const TransferServerCallbacks& callbacks,
                                                            const std::vector<ReceiveConfirmationRequest>& requests,
                                                            const Asker& asker)
{
    if (!callbacks.confirmBatchBeforeSave) {
        return true;
    }
    return askAndWait(callbacks.confirmBatchBeforeSave, requests, false, asker);
}

Expected<DuplicateFileResolution, SocketHTTPError> askDuplicateResolution(const TransferServerCallbacks& callbacks,
                                                                          const DuplicateFileRequest& request,
                                                                          const Asker& asker)
{
    if (!callbacks.resolveDuplicateFile) {
        return DuplicateFileResolution::keepCopy;
    }
    return askAndWait(callbacks.resolveDuplicateFile, request, DuplicateFileResolution::cancel, asker);
}

} // namespace ferrylantern
