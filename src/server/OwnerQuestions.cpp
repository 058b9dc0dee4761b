#include "server/OwnerQuestions.h"

namespace ferrylantern {

namespace {

// Hands the question over with a fresh reply and blocks until it is resumed. A reply the owner drops
// without answering resumes with `fallback`, the answer that refuses.
template <typename Answer, typename Callback, typename Question>
Answer askAndWait(const Callback& callback, const Question& question, Answer fallback)
{
    auto [reply, waiter] = makeOneShotReply<Answer>(fallback);
    callback(question, std::move(reply));
    return waiter.wait();
}

} // namespace

bool askReceiveConfirmation(const TransferServerCallbacks& callbacks, const ReceiveConfirmationRequest& request)
{
    if (!callbacks.confirmBeforeSave) {
        return true;
    }
    return askAndWait(callbacks.confirmBeforeSave, request, false);
}

bool askBatchReceiveConfirmation(const TransferServerCallbacks& callbacks,
                                 const std::vector<ReceiveConfirmationRequest>& requests)
{
    if (!callbacks.confirmBatchBeforeSave) {
        return true;
    }
    return askAndWait(callbacks.confirmBatchBeforeSave, requests, false);
}

DuplicateFileResolution askDuplicateResolution(const TransferServerCallbacks& callbacks,
                                               const DuplicateFileRequest& request)
{
    if (!callbacks.resolveDuplicateFile) {
        return DuplicateFileResolution::keepCopy;
    }
    return askAndWait(callbacks.resolveDuplicateFile, request, DuplicateFileResolution::cancel);
}

} // namespace ferrylantern
