// Asking the server's owner a question and waiting for the answer on the request's worker thread.
// The thread waits until the owner resumes the reply it was given, however long the desktop user
// takes, but looks at the connection every second: when the client has hung up nobody is waiting for
// the answer any more, so the question is withdrawn (the owner takes it off its queue) and the thread
// goes on with the refusing answer. A missing callback is not asked at all and gives the answer the
// server assumes without an owner.
//
// Each client address may have only a few questions waiting at once; beyond that the question is not
// asked and the request fails with tooManyQuestions.
#pragma once

#include "server/Expected.h"
#include "server/QuestionSlots.h"
#include "server/ServerCallbacks.h"
#include "server/SocketHTTPError.h"

#include <functional>
#include <string>

namespace ferrylantern {

// Who asks: the slots of the client's address, and whether the client has gone (empty: nobody to
// watch).
struct Asker
{
    QuestionSlots& slots;
    std::string peer;
    std::function<bool()> clientHasGone;
};

// True (save) or false (decline). Without a callback: true.
Expected<bool, SocketHTTPError> askReceiveConfirmation(const TransferServerCallbacks& callbacks,
                                                       const ReceiveConfirmationRequest& request, const Asker& asker);

// One answer for the whole batch, requests in the order of the batch. Without a callback: true.
Expected<bool, SocketHTTPError> askBatchReceiveConfirmation(const TransferServerCallbacks& callbacks,
                                                            const std::vector<ReceiveConfirmationRequest>& requests,
                                                            const Asker& asker);

// What to do with a same-name file. Without a callback: keepCopy.
Expected<DuplicateFileResolution, SocketHTTPError> askDuplicateResolution(const TransferServerCallbacks& callbacks,
                                                                          const DuplicateFileRequest& request,
                                                                          const Asker& asker);

} // namespace ferrylantern
